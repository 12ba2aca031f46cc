// The trace channel. Trace lines go to a sink that the platform installs: on
// Windows the debug-output device (a viewer window and the inherited standard
// output), on the host nowhere unless a tool asks for it.
#pragma once

#include <cstddef>
#include <string>

typedef void (*TTraceSink)(const char* text, size_t len);

void SetTraceSink(TTraceSink sink);  // null: lines go nowhere
void TraceText(const std::string& text);
void TraceLine(const std::string& line);  // line + CR LF
