// Process: whether a program given by the path of its executable runs, its
// process id and main window, the ways to stop it and to wait for it.
//
// Matching: a process is the program when Path equals (trimmed, ASCII case
// folded) the process's full path, its file name (unless PathOnly), or when
// the short 8.3 forms of both full paths are equal. So with PathOnly false a
// bare "prog.exe" finds that program in any folder.
//
// The lists come from "PSAPI.dll" on the NT family and from the tool-help
// snapshot of kernel32 elsewhere; both are bound at run time. Nothing is
// cached between calls. Every wait keeps this thread's messages flowing and
// has no time limit.
#ifndef KORVAN_PROCESS_PROCESS_H
#define KORVAN_PROCESS_PROCESS_H

#include <windows.h>

#include <string>
#include <vector>

// Where the searches read the running processes from.
enum TProcessListSource {
  plsAuto,           // process status on the NT family, tool help elsewhere
  plsProcessStatus,  // PSAPI id list and module names
  plsToolHelp,       // kernel32 snapshot
  plsImageName,      // PSAPI id list, names from the process image only
};
// Exists for tests: one system can then walk every road. Programs keep
// plsAuto.
void SetProcessListSource(TProcessListSource source);

// Id of the program's process, 0 when none matches or Path is blank. On the
// process-status road the highest entry of the id list wins, on the tool-help
// road the last entry of the snapshot.
DWORD FindProcessId(const std::string& path, bool pathOnly);
// Path may be quoted; matches with PathOnly false.
bool IsProgramRunning(const std::string& path);
// Returns once the program is gone: the process found first is followed by
// its id where the system lists ids, so a second instance does not prolong
// the wait. Path may be quoted.
void WaitUntilNotRunning(const std::string& path);
// Waits while a top-level window of ClassName (and WindowName, when not
// empty) exists. Empty means "any"; with both empty there is nothing to wait
// for and the call returns at once.
void WaitWhileWindowExists(const std::string& className, const std::string& windowName);

// The top-level window of the program that owns most of its other windows,
// then titled, then visible; null when it has none worth the name.
HWND FindMainWindow(const std::string& path, bool pathOnly);
// Posts Message to the main window. True when there was a window to post to;
// it does not wait for the window to act.
bool PostToMainWindow(const std::string& path, bool pathOnly, UINT message, WPARAM wParam,
                      LPARAM lParam);
// WM_CLOSE and WM_QUIT, each with wParam 15 and lParam 255.
bool CloseProgramByWmClose(const std::string& path, bool pathOnly);
bool CloseProgramByWmQuit(const std::string& path, bool pathOnly);
// Ends the program's process with exit code 0; true when the system did so.
bool TerminateProgram(const std::string& path, bool pathOnly);

// Ids of all processes from PSAPI; empty when it is missing.
std::vector<DWORD> ProcessIdList();
bool IsProcessIdAlive(DWORD processId);

#endif
