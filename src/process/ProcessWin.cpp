// Process finder and stopper; see Process.h.
#include "process/Process.h"

#include <cstring>
#include <memory>
#include <new>

#include "process/Analizer.h"
#include "process/PsAPIWin.h"
#include "process/TlHelp32Win.h"
#include "util/UtilsWin.h"

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

namespace {

TProcessListSource g_source = plsAuto;

TProcessListSource effectiveSource() {
  if (g_source != plsAuto) return g_source;
  static const bool nt = IsWinNT();
  return nt ? plsProcessStatus : plsToolHelp;
}

template <typename Fn>
Fn as(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// What a search looks for.
struct Wanted {
  std::string path;       // as the caller gave it; compared trimmed
  std::string shortPath;  // "" when the system gave no short form
  bool pathOnly;
};

bool isFullPath(const std::string& p) {
  if (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) return true;
  return p.size() >= 2 && p[0] == '\\' && p[1] == '\\';
}

// Short 8.3 form of a full path, "" when the system gives none (the file is
// gone, the volume keeps no short names). Relative names are left out: their
// short form depends on the current folder, and a bare name would then match
// a full path with PathOnly set. On Wine's Z: drive the short names are
// made up from a hash ("PROD~Y00.EXE"), the same for the same long name.
std::string shortPathOf(const std::string& path) {
  if (!isFullPath(path)) return std::string();
  std::string buf(MAX_PATH + 1, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD size = static_cast<DWORD>(buf.size());
    const DWORD n = GetShortPathNameA(path.c_str(), &buf[0], size);
    if (n == 0) return std::string();
    if (n < size) return buf.substr(0, n);
    buf.assign(static_cast<size_t>(n) + 1, '\0');  // N counts the room needed
  }
  return std::string();
}

// FileName is compared only without PathOnly; an empty text compares to
// nothing. The short comparison costs a disk look-up, so it comes last and
// only when Path has a short form at all.
bool matches(const Wanted& w, const std::string& fullName, const std::string& fileName) {
  if (!fullName.empty() && SameTrimmedText(w.path, fullName)) return true;
  if (!w.pathOnly && !fileName.empty() && SameTrimmedText(w.path, fileName)) return true;
  if (w.shortPath.empty() || fullName.empty()) return false;
  const std::string s = shortPathOf(fullName);
  return !s.empty() && SameTrimmedText(w.shortPath, s);
}

// Names of the process's first module, its executable.
bool namesFromModules(DWORD id, std::string& fullName, std::string& fileName) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
  if (!process) return false;
  HMODULE module = nullptr;
  DWORD needed = 0;
  // Room for the first handle only; "needed" reports the rest, which we skip.
  if (PsEnumProcessModules(process, &module, sizeof module, &needed) && needed >= sizeof module) {
    fullName = PsModuleFileName(process, module);
    fileName = PsModuleBaseName(process, module);
  }
  CloseHandle(process);
  return !fullName.empty();
}

typedef BOOL(WINAPI* QueryImageNameFn)(HANDLE, DWORD, LPSTR, PDWORD);

// The image path as the kernel keeps it (Vista on). A 32-bit program cannot
// read the module list of a 64-bit process, and a process running elevated
// refuses the rights for it, but both still tell their image path. Wine gives
// the same DOS path here as GetModuleFileNameExA ("Z:\...").
bool namesFromImage(DWORD id, std::string& fullName, std::string& fileName) {
  static const FARPROC proc =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA");
  if (!proc) return false;
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process) return false;
  std::string buf(MAX_PATH + 1, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buf.size());
    if (as<QueryImageNameFn>(proc)(process, 0, &buf[0], &size)) {
      fullName = buf.substr(0, size);
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buf.size() >= 32768) break;
    buf.assign(buf.size() * 2, '\0');
  }
  CloseHandle(process);
  fileName = FilePartOf(fullName);
  return !fullName.empty();
}

// From the last id to the first; the first match ends the walk.
DWORD findOnProcessStatus(const Wanted& w, bool useModules) {
  const std::vector<DWORD> ids = ProcessIdList();
  for (size_t i = ids.size(); i-- > 0;) {
    const DWORD id = ids[i];
    if (id == 0) continue;  // the idle process; 0 also means "none"
    std::string fullName, fileName;
    bool known = useModules && namesFromModules(id, fullName, fileName);
    if (!known) known = namesFromImage(id, fullName, fileName);
    if (known && matches(w, fullName, fileName)) return id;
  }
  return 0;
}

// Every entry is visited; the last match of the snapshot's order wins.
// szExeFile holds the full path on the 9x family only; the NT family and Wine
// put the bare file name there. A bare name is no full path: compared as one,
// PathOnly would stop every program of that name in any folder.
DWORD findOnToolHelp(const Wanted& w) {
  const HANDLE snapshot = TlCreateSnapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry;
  ZeroMemory(&entry, sizeof entry);
  // The record is 296 bytes in a 32-bit program and 304 in a 64-bit one; the
  // system refuses any size smaller than its own.
  static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296, "process entry of 32-bit Windows");
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (bool ok = TlProcessFirst(snapshot, entry); ok; ok = TlProcessNext(snapshot, entry)) {
    const std::string exeName(entry.szExeFile, strnlen(entry.szExeFile, MAX_PATH));
    const std::string fileName = FilePartOf(exeName);
    const std::string fullName = fileName.size() == exeName.size() ? std::string() : exeName;
    if (matches(w, fullName, fileName)) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

BOOL CALLBACK collectWindow(HWND window, LPARAM lParam) {
  TAnalizer* a = reinterpret_cast<TAnalizer*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == a->ProcessId) a->Add(reinterpret_cast<uintptr_t>(window));
  return TRUE;
}

HWND asWindow(uintptr_t w) { return reinterpret_cast<HWND>(w); }

uintptr_t ownerOf(uintptr_t w, void*) {
  return reinterpret_cast<uintptr_t>(GetWindow(asWindow(w), GW_OWNER));
}
// GetWindowTextA reads another process's caption without sending it a
// message, so a hung program cannot stall the search.
bool titledWindow(uintptr_t w, void*) { return !WindowTextOf(asWindow(w)).empty(); }
bool visibleWindow(uintptr_t w, void*) { return IsWindowVisible(asWindow(w)) != FALSE; }

}  // namespace

void SetProcessListSource(TProcessListSource source) { g_source = source; }

std::vector<DWORD> ProcessIdList() {
  std::vector<DWORD> ids(256);  // 1024 bytes
  for (;;) {
    const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
    DWORD bytes = 0;
    if (!PsEnumProcesses(ids.data(), room, &bytes)) return std::vector<DWORD>();
    // A full buffer may have left ids out: try again with 1024 bytes more.
    if (bytes < room || ids.size() >= (1u << 20)) {
      ids.resize(bytes / sizeof(DWORD));
      return ids;
    }
    ids.resize(ids.size() + 256);
  }
}

bool IsProcessIdAlive(DWORD processId) {
  for (DWORD id : ProcessIdList())
    if (id == processId) return true;
  return false;
}

DWORD FindProcessId(const std::string& path, bool pathOnly) {
  const std::string trimmed = Trim(path);
  // A blank Path would otherwise match every process whose name is unknown.
  if (trimmed.empty()) return 0;
  const Wanted w = {path, shortPathOf(trimmed), pathOnly};
  switch (effectiveSource()) {
    case plsToolHelp:
      return findOnToolHelp(w);
    case plsImageName:
      return findOnProcessStatus(w, false);
    default:
      return findOnProcessStatus(w, true);
  }
}

bool IsProgramRunning(const std::string& path) {
  return FindProcessId(Unquote(path, true), false) != 0;
}

void WaitUntilNotRunning(const std::string& path) {
  const std::string unquoted = Unquote(path, true);
  DelayWithMessages(1000);
  if (effectiveSource() != plsToolHelp) {
    const DWORD id = FindProcessId(unquoted, false);
    if (id == 0) return;
    do {
      DelayWithMessages(1000);
    } while (IsProcessIdAlive(id));
  } else {
    do {
      DelayWithMessages(1000);
    } while (FindProcessId(unquoted, false) != 0);
  }
}

void WaitWhileWindowExists(const std::string& className, const std::string& windowName) {
  // FindWindowA with neither would find some window for ever.
  if (className.empty() && windowName.empty()) return;
  const char* cls = className.empty() ? nullptr : className.c_str();
  const char* name = windowName.empty() ? nullptr : windowName.c_str();
  while (FindWindowA(cls, name)) {
    ProcessPendingMessage();
    Sleep(100);
  }
}

HWND FindMainWindow(const std::string& path, bool pathOnly) {
  const DWORD id = FindProcessId(path, pathOnly);
  if (id == 0) return nullptr;
  // About 20 KB: too much for the stack of a message handler.
  std::unique_ptr<TAnalizer> a(new (std::nothrow) TAnalizer);
  if (!a) return nullptr;
  a->ProcessId = id;
  EnumWindows(collectWindow, reinterpret_cast<LPARAM>(a.get()));
  a->Score({ownerOf, titledWindow, visibleWindow, nullptr});
  return asWindow(a->MainWindow());
}

bool PostToMainWindow(const std::string& path, bool pathOnly, UINT message, WPARAM wParam,
                      LPARAM lParam) {
  const HWND window = FindMainWindow(path, pathOnly);
  if (!window) return false;
  PostMessageA(window, message, wParam, lParam);
  return true;
}

bool CloseProgramByWmClose(const std::string& path, bool pathOnly) {
  return PostToMainWindow(path, pathOnly, WM_CLOSE, 15, 255);
}

bool CloseProgramByWmQuit(const std::string& path, bool pathOnly) {
  return PostToMainWindow(path, pathOnly, WM_QUIT, 15, 255);
}

bool TerminateProgram(const std::string& path, bool pathOnly) {
  const DWORD id = FindProcessId(path, pathOnly);
  if (id == 0) return false;
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  if (!process) return false;
  const bool ended = TerminateProcess(process, 0) != FALSE;
  CloseHandle(process);
  return ended;
}
