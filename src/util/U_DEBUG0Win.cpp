// The debug-output device of the Windows programs. Installed while the
// program starts, before any other unit runs, so that every trace line takes
// this road.
#include <windows.h>

#include "util/Trace.h"

namespace {

// A GUI program on Windows has no standard output unless its parent gave it
// one (a redirect, a console parent, Wine started from a shell); a write to
// a missing handle fails quietly.
void WriteStdOut(const char* text, size_t len) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(out, text, DWORD(len), &written, nullptr);
}

struct TDebugInstaller {
  TDebugInstaller() { SetTraceSink(WriteStdOut); }
};

}  // namespace

// Constructed before the other units' statics and before WinMain. Every
// program that links the core library pulls this object in by its name
// (cmake/Windows.cmake), since nothing else refers to it.
extern "C" {
__attribute__((init_priority(101))) TDebugInstaller KorvanDebugDevice;
}
