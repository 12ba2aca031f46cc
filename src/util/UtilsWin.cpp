// Win32 half of Utils. The parsing lives in the portable half; this file only
// fetches what the system knows and hands it over.
#include "util/UtilsWin.h"

#include <vector>

namespace {

// Calls a "fill this buffer" service with a growing buffer. Start at 256
// bytes; a path the system reports as longer gets the room it asks for
// instead of a cut or stale text.
template <typename Fill>
std::string fetchText(Fill fill) {
  std::vector<char> buf(256);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = fill(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(static_cast<size_t>(n) + 1);
  }
  return std::string();
}

std::string folderText(const std::string& folder, bool withBackslash) {
  // A failed query stays "": appending a backslash would turn it into the
  // root of the current drive.
  if (folder.empty()) return folder;
  return SetTrailingBackslash(folder, withBackslash);
}

uint32_t tickCount() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace

std::string ExePath() {
  std::vector<char> buf(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(),
                                       static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    // A full buffer means the name was cut.
    if (n < buf.size() - 1) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string CommandLineArgs() {
  const char* line = GetCommandLineA();
  return CommandLineArgsOf(line ? line : "", ExePath());
}

bool SwitchPresent(const std::string& sw) {
  return SwitchPresentIn(CommandLineArgs(), sw);
}

std::string SwitchValue(const std::string& sw) {
  return SwitchValueIn(CommandLineArgs(), sw);
}

int64_t SwitchInt(const std::string& sw, int64_t def) {
  return SwitchIntIn(CommandLineArgs(), sw, def);
}

std::string ExeDir(bool withBackslash) {
  const std::string path = ExePath();
  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos) return std::string();
  return SetTrailingBackslash(path.substr(0, cut + 1), withBackslash);
}

std::string WindowsDir(bool withBackslash) {
  return folderText(fetchText([](char* b, DWORD n) -> DWORD {
                      return GetWindowsDirectoryA(b, n);
                    }),
                    withBackslash);
}

std::string SystemDir(bool withBackslash) {
  return folderText(fetchText([](char* b, DWORD n) -> DWORD {
                      return GetSystemDirectoryA(b, n);
                    }),
                    withBackslash);
}

std::string TempDir(bool withBackslash) {
  return folderText(fetchText([](char* b, DWORD n) -> DWORD {
                      return GetTempPathA(n, b);
                    }),
                    withBackslash);
}

bool IsWinNT() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * TSetDefaultDllDirectories)(DWORD);
  typedef BOOL(WINAPI * TSetDllDirectoryA)(LPCSTR);
  // Looked up: Windows before 8 has it only with an update, XP not at all.
  auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  // Where that is missing, at least the current folder leaves the search.
  auto setDirectory = reinterpret_cast<TSetDllDirectoryA>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (setDirectory) setDirectory("");
}

HMODULE LoadSystemLibrary(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return LoadLibraryA(name.c_str());
  char dir[MAX_PATH];
  const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  const std::string path = std::string(dir, n) + "\\" + name;
  // The altered search path makes the library's own imports resolve from
  // the system folder too, not from the folder of this program.
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC GetProcAddressOf(const std::string& libraryName,
                         const std::string& procName) {
  // Never freed: callers keep the address for the life of the process.
  HMODULE lib = LoadSystemLibrary(libraryName);
  // Handle values up to 32 are the old error codes of LoadLibrary.
  if (reinterpret_cast<uintptr_t>(lib) < 33) return nullptr;
  return GetProcAddress(lib, procName.c_str());
}

std::string WindowTextOf(HWND window) {
  if (!window) return std::string();
  char buf[1001];
  const int n = GetWindowTextA(window, buf, static_cast<int>(sizeof buf));
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string SystemErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result;
  if (n > 0 && text) result = Trim(std::string(text, n));
  if (text) LocalFree(text);
  // An empty text in an error box tells the user nothing; the code does.
  if (result.empty()) result = IntToStr(static_cast<int64_t>(code));
  return result;
}

std::string LastErrorText() { return SystemErrorText(GetLastError()); }

void ProcessPendingMessage() {
  MSG msg;
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // A quit request taken here would be lost to the outer message loop
      // and the program would never end: hand it back.
      PostQuitMessage(static_cast<int>(msg.wParam));
    } else {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  Sleep(0);
}

void DelayWithMessages(uint32_t milliseconds) {
  static const WaitOps ops = {tickCount, ProcessPendingMessage, sleepMs};
  DelayWith(milliseconds, ops);
}
