#include "util/Trace.h"

#include <cstring>

namespace {

// Plain zero-initialised data: the device is usable before any constructor
// runs, whatever order the units start in.
TTraceSink g_sink = nullptr;
TTraceLockProc g_enter = nullptr;
TTraceLockProc g_leave = nullptr;
char g_buffer[kTraceChunkSize];
size_t g_used = 0;

struct TLock {
  TLock() {
    if (g_enter) g_enter();
  }
  ~TLock() {
    if (g_leave) g_leave();
  }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
};

// The buffer is emptied before the sink runs: a trace line written while the
// sink waits (a message handled during a synchronous send) starts a chunk of
// its own instead of mixing into this one.
void SendBuffer() {
  if (g_used == 0) return;
  char chunk[kTraceChunkSize + 1];
  size_t len = 0;
  while (len < g_used && g_buffer[len] != 0) {
    chunk[len] = g_buffer[len];
    ++len;
  }
  chunk[len] = 0;
  g_used = 0;
  if (g_sink && len > 0) g_sink(chunk, len);
}

void Put(const char* text, size_t len) {
  while (len > 0) {
    size_t take = kTraceChunkSize - g_used;
    if (take > len) take = len;
    memcpy(g_buffer + g_used, text, take);
    g_used += take;
    text += take;
    len -= take;
    if (g_used == kTraceChunkSize) SendBuffer();
  }
}

}  // namespace

void SetTraceSink(TTraceSink sink) { g_sink = sink; }

void SetTraceLock(TTraceLockProc enter, TTraceLockProc leave) {
  g_enter = enter;
  g_leave = leave;
}

void TraceText(const std::string& text) {
  TLock lock;
  Put(text.data(), text.size());
}

void TraceLine(const std::string& line) {
  TLock lock;
  Put(line.data(), line.size());
  // A viewer that shows chunk by chunk would show a lone CR or LF as a line
  // of its own: keep the pair together.
  if (g_used + 2 > kTraceChunkSize) SendBuffer();
  Put("\r\n", 2);
  SendBuffer();
}

void TraceFlush() {
  TLock lock;
  SendBuffer();
}
