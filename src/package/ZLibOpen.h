// ZLibOpen: the inflate wrapper over zlib, shared by the stub's extractor and
// korvan-pack. It inflates a zlib stream (RFC 1950, 15-bit window) fed in
// pieces and hands the output on in pieces of at most kInflatePiece bytes, so
// memory stays bounded whatever the size of an entry. Nothing throws: a
// failure is an EZLibError carrying zlib's own message.
#ifndef KORVAN_PACKAGE_ZLIBOPEN_H
#define KORVAN_PACKAGE_ZLIBOPEN_H

#include <cstddef>
#include <cstdint>
#include <string>

// One write per piece: large enough that the writes cost little, small
// enough that memory stays a few megabytes.
const size_t kInflatePiece = 1 << 20;

// What went wrong while inflating. Code is zlib's result (Z_DATA_ERROR ...),
// or 0 when a sink stopped the stream; Message is empty when all went well.
struct EZLibError {
  int Code = 0;
  std::string Message;
  bool Failed() const { return !Message.empty(); }
};

// Receives inflated bytes in order; returns false to stop inflating.
typedef bool (*TInflateSink)(void* context, const uint8_t* data, size_t len);

class TZInflater {
 public:
  TZInflater();
  ~TZInflater();
  TZInflater(const TZInflater&) = delete;
  TZInflater& operator=(const TZInflater&) = delete;

  // Inflates Len more input bytes, calling Sink for every piece of output.
  // False once the stream failed (see Error); input after the end of the
  // stream is ignored.
  bool Feed(const uint8_t* data, size_t len, TInflateSink sink, void* context);
  // Call when the input is exhausted: false (with Error set) unless the
  // stream reached its end.
  bool Finish();

  bool AtEnd() const { return ended_; }
  uint64_t TotalOut() const { return totalOut_; }
  const EZLibError& Error() const { return error_; }

 private:
  bool Fail(int code, const char* message);

  struct State;
  State* state_;
  bool ended_ = false;
  uint64_t totalOut_ = 0;
  EZLibError error_;
};

// A whole stream held in memory; the output goes to Sink. Returns the error
// (Failed() false on success).
EZLibError InflateBuffer(const uint8_t* data, size_t len, TInflateSink sink, void* context);

#endif
