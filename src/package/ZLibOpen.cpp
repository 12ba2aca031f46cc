#include "package/ZLibOpen.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

struct TZInflater::State {
  z_stream stream;
  bool initialised;
  uint8_t* out;  // one piece, reused for every call
};

TZInflater::TZInflater() : state_(static_cast<State*>(std::calloc(1, sizeof(State)))) {
  if (!state_) {
    error_.Code = Z_MEM_ERROR;
    error_.Message = "out of memory";
    return;
  }
  state_->out = static_cast<uint8_t*>(std::malloc(kInflatePiece));
  int rc = state_->out ? inflateInit(&state_->stream) : Z_MEM_ERROR;
  if (rc != Z_OK) {
    Fail(rc, state_->stream.msg);
    return;
  }
  state_->initialised = true;
}

TZInflater::~TZInflater() {
  if (!state_) return;
  if (state_->initialised) inflateEnd(&state_->stream);
  std::free(state_->out);
  std::free(state_);
}

bool TZInflater::Fail(int code, const char* message) {
  if (error_.Failed()) return false;
  error_.Code = code;
  // zlib leaves msg null for some results (a short buffer, no memory).
  error_.Message = message && *message ? message : zError(code);
  if (error_.Message.empty()) error_.Message = "inflate failed";
  return false;
}

bool TZInflater::Feed(const uint8_t* data, size_t len, TInflateSink sink, void* context) {
  if (error_.Failed()) return false;
  if (ended_) return true;
  z_stream& zs = state_->stream;
  // avail_in is 32 bits wide: hand over large buffers in slices.
  for (;;) {
    if (zs.avail_in == 0 && len > 0) {
      uInt slice = len > 0x40000000u ? 0x40000000u : uInt(len);
      zs.next_in = const_cast<Bytef*>(data);
      zs.avail_in = slice;
      data += slice;
      len -= slice;
    }
    zs.next_out = state_->out;
    zs.avail_out = uInt(kInflatePiece);
    uInt inBefore = zs.avail_in;
    int rc = inflate(&zs, Z_NO_FLUSH);
    size_t produced = kInflatePiece - zs.avail_out;
    // What came out before a failure is handed on first, so the caller
    // knows how far the entry got (its name, say) when the error follows.
    totalOut_ += produced;
    if (produced > 0 && sink && !sink(context, state_->out, produced)) return Fail(0, "output refused");
    if (rc == Z_NEED_DICT) return Fail(Z_DATA_ERROR, "stream needs a preset dictionary");
    if (rc < 0 && rc != Z_BUF_ERROR) return Fail(rc, zs.msg);
    // zlib always moves when it has input and room; guard the loop anyway.
    if (produced == 0 && zs.avail_in == inBefore && zs.avail_in > 0) return Fail(Z_BUF_ERROR, zs.msg);
    if (rc == Z_STREAM_END) {
      ended_ = true;
      zs.avail_in = 0;
      return true;
    }
    // A full piece may leave more output inside zlib: call again before
    // deciding that the input is used up.
    if (zs.avail_in == 0 && len == 0 && zs.avail_out != 0) break;
  }
  return true;
}

bool TZInflater::Finish() {
  if (error_.Failed()) return false;
  if (!ended_) return Fail(Z_BUF_ERROR, "unexpected end of compressed data");
  return true;
}

EZLibError InflateBuffer(const uint8_t* data, size_t len, TInflateSink sink, void* context) {
  TZInflater inflater;
  if (inflater.Feed(data, len, sink, context)) inflater.Finish();
  return inflater.Error();
}
