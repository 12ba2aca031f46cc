#include "util/Trace.h"

namespace {
TTraceSink g_sink = nullptr;
}

void SetTraceSink(TTraceSink sink) { g_sink = sink; }

void TraceText(const std::string& text) {
  if (g_sink && !text.empty()) g_sink(text.data(), text.size());
}

void TraceLine(const std::string& line) { TraceText(line + "\r\n"); }
