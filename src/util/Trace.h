// The trace channel. Trace lines collect in a 128-character device buffer
// that is handed to a sink whenever a line is complete or the buffer is full,
// so a sink never sees more than 128 characters at once and a line break
// (CR LF) is never split between two chunks. The platform installs the sink
// and the lock while the program starts: on Windows the debug-output device
// (a viewer window and the inherited standard output); on the host the lines
// go nowhere unless a tool asks for them.
#pragma once

#include <cstddef>
#include <string>

const size_t kTraceChunkSize = 128;

// Receives one chunk: Len characters, 1..kTraceChunkSize, with a zero byte
// after them. The text of a chunk ends at its first zero byte.
typedef void (*TTraceSink)(const char* text, size_t len);
typedef void (*TTraceLockProc)();

void SetTraceSink(TTraceSink sink);  // null: lines go nowhere
// Serialises writers on several threads: Enter and Leave bracket every write
// call, so neither chunks nor whole calls interleave. Enter must allow the
// same thread in again (a sink may cause a trace line of its own).
void SetTraceLock(TTraceLockProc enter, TTraceLockProc leave);

// Appends Text to the buffer; it reaches the sink once the buffer is full or
// the next line completes.
void TraceText(const std::string& text);
// Line + CR LF, then everything buffered goes to the sink.
void TraceLine(const std::string& line);
// Sends what is buffered now.
void TraceFlush();
