// Win32 half of Utils: the running program, its command line and switches,
// the system folders, library look-ups and message pumping while waiting.
#ifndef KORVAN_UTIL_UTILSWIN_H
#define KORVAN_UTIL_UTILSWIN_H

#include <windows.h>

#include <cstdint>
#include <string>

#include "util/Utils.h"

// Full path of the running program file.
std::string ExePath();
// The process command line without the program's own path.
std::string CommandLineArgs();
bool SwitchPresent(const std::string& sw);
std::string SwitchValue(const std::string& sw);
int64_t SwitchInt(const std::string& sw, int64_t def);

// Folder of the program, the Windows, system and temporary folders, with or
// without one trailing backslash. "" when the system cannot tell.
std::string ExeDir(bool withBackslash);
std::string WindowsDir(bool withBackslash);
std::string SystemDir(bool withBackslash);
std::string TempDir(bool withBackslash);

bool IsWinNT();
// Loads LibraryName for the life of the process and looks up ProcName;
// nullptr when either is missing.
// The program may run from a download folder, where a DLL named like a
// system one could lie in wait. RestrictDllSearch, first thing in the
// process, limits the search of every later load to the system folder where
// the system can; LoadSystemLibrary loads a library by a plain name from the
// system folder only (a name with a path is loaded as given).
void RestrictDllSearch();
HMODULE LoadSystemLibrary(const std::string& name);

FARPROC GetProcAddressOf(const std::string& libraryName,
                         const std::string& procName);
// Title of Window, at most 1000 characters; "" for no window.
std::string WindowTextOf(HWND window);
// System message text of the thread's last error code.
std::string LastErrorText();
// System message text of Code, without the closing line break; the code in
// decimal when the system has no text for it.
std::string SystemErrorText(DWORD code);

// Removes, translates and dispatches at most one message of this thread,
// then yields the rest of the time slice.
void ProcessPendingMessage();
// Waits Milliseconds while the thread's messages keep flowing.
void DelayWithMessages(uint32_t milliseconds);

#endif
