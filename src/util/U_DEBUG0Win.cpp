// The debug-output device of the Windows programs. Installed while the
// program starts, before any other unit runs, so that every trace line takes
// this road: each chunk of the trace buffer goes to a debug viewer window
// when one runs, and to the inherited standard output.
//
// The viewer is any top-level window of class ".KDebug."; it receives the
// registered message ".K_DebugMsg." with WParam 1 and LParam a global atom
// that holds the chunk, reads the atom's text while it handles the message,
// and the atom is deleted once the send returns. A chunk is at most 128
// characters, well within the 255 an atom can hold.
#include <windows.h>

#include "util/Trace.h"

namespace {

const char kViewerClass[] = ".KDebug.";
const char kChannelMessage[] = ".K_DebugMsg.";

CRITICAL_SECTION g_lock;
bool g_lockReady = false;
UINT g_channelMessage = 0;

// Before the installer runs there is only the start-up thread.
void EnterLock() {
  if (g_lockReady) EnterCriticalSection(&g_lock);
}
void LeaveLock() {
  if (g_lockReady) LeaveCriticalSection(&g_lock);
}

// The same text also goes to the standard output, where the tests and a
// developer running the program from a shell read the trace lines. A GUI
// program on Windows usually has no standard output unless its parent gave
// it one (a redirect, a console parent, Wine started from a shell); a write
// to a missing or closed handle fails quietly.
void WriteStdOut(const char* text, size_t len) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(out, text, DWORD(len), &written, nullptr);
}

// A missing viewer, a failed atom or a failed send loses this chunk and
// nothing else. The viewer is looked up on every send, so one that starts
// or ends while the program runs is picked up or dropped at once.
void SendDebugText(const char* text) {
  HWND viewer = FindWindowA(kViewerClass, nullptr);
  if (viewer == nullptr) return;
  if (g_channelMessage == 0) g_channelMessage = RegisterWindowMessageA(kChannelMessage);
  if (g_channelMessage == 0) return;
  ATOM atom = GlobalAddAtomA(text);
  if (atom == 0) return;
  // Synchronous, so the atom still exists while the viewer reads it.
  SendMessageA(viewer, g_channelMessage, 1, LPARAM(atom));
  GlobalDeleteAtom(atom);
}

void DeviceWrite(const char* text, size_t len) {
  WriteStdOut(text, len);
  SendDebugText(text);
}

struct TDebugInstaller {
  TDebugInstaller() {
    InitializeCriticalSection(&g_lock);
    g_lockReady = true;
    g_channelMessage = RegisterWindowMessageA(kChannelMessage);
    SetTraceLock(EnterLock, LeaveLock);
    SetTraceSink(DeviceWrite);
  }
};

}  // namespace

// Constructed before the other units' statics and before WinMain. Every
// program that links the core library pulls this object in by its name
// (cmake/Windows.cmake), since nothing else refers to it.
extern "C" {
__attribute__((init_priority(101))) TDebugInstaller KorvanDebugDevice;
}
