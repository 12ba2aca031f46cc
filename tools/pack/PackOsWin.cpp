// korvan-pack as a Windows console program: the same functions as
// PackOsPosix.cpp over Win32. Paths are 8-bit ANSI, as the rest of the tool
// and the stub take them; "/" and "\" both separate folders.
//
// Condition variables need Vista; the stub's XP floor does not bind a build
// tool, so this file alone asks for the newer headers.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#undef WINVER
#define WINVER 0x0600
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "PackOs.h"
#include "util/Trace.h"

namespace {

// 100-ns intervals from 1601 to 1970.
const int64_t kUnixEpochInFileTime = 116444736000000000LL;

int64_t FileTimeToUnix(const FILETIME& ft) {
  int64_t t = int64_t(uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - kUnixEpochInFileTime;
  // Whole seconds, rounded down as stat() gives them.
  return t >= 0 ? t / 10000000 : -((-t + 9999999) / 10000000);
}

std::string ErrorText(DWORD code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : "error " + std::to_string(unsigned(code));
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

std::string LastError() { return ErrorText(GetLastError()); }

bool IsDriveRelative(const std::string& p) { return p.size() >= 2 && p[1] == ':'; }

}  // namespace

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

bool GetFileFacts(const std::string& path, TFileFacts& facts) {
  facts = TFileFacts();
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  facts.Exists = true;
  facts.IsRegular = !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  facts.Size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  facts.WriteTime = FileTimeToUnix(data.ftLastWriteTime);
  facts.Mode = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
  // The identity: volume serial number and file index, as dev and inode.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
      facts.Device = info.dwVolumeSerialNumber;
      facts.Node = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    CloseHandle(h);
  }
  return true;
}

std::string DirPartOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return IsDriveRelative(path) ? path.substr(0, 2) : ".";
  // "\x", "C:\x": the root keeps its separator.
  if (slash == 0 || (slash == 2 && IsDriveRelative(path))) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (name.empty()) return dir;
  if (IsPathSeparator(name[0]) || IsDriveRelative(name) || dir.empty() || dir == ".") return name;
  return IsPathSeparator(dir.back()) || (dir.size() == 2 && dir[1] == ':') ? dir + name : dir + "\\" + name;
}

// GetFullPathName resolves "." and ".." and the current folder; links and
// junctions are left as they are, and SameFile in the builder compares the
// file identity as well, so two names of one file are still caught.
std::string RealPathOf(const std::string& path) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return "";
  std::string full(buffer, n);
  DWORD attr = GetFileAttributesA(full.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES) return full;
  // Not there yet: its folder must be.
  size_t slash = full.find_last_of("/\\");
  if (slash == std::string::npos || slash + 1 == full.size()) return "";
  std::string dir = full.substr(0, slash == 2 ? 3 : slash);
  attr = GetFileAttributesA(dir.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) return "";
  return full;
}

std::string ExecutablePath() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return "";
  return std::string(buffer, n);
}

// The local time of that instant by the time-zone rules Windows holds, as
// localtime_r does on the host. FileTimeToLocalFileTime would apply today's
// offset (summer or winter) to every date and shift files by an hour.
uint32_t LocalDosDateTime(int64_t unixSeconds) {
  int64_t ticks = unixSeconds * 10000000 + kUnixEpochInFileTime;
  if (ticks < 0) return 0;
  FILETIME ft;
  ft.dwLowDateTime = DWORD(uint64_t(ticks));
  ft.dwHighDateTime = DWORD(uint64_t(ticks) >> 32);
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return 0;
  int year = local.wYear;
  if (year < 1980 || year > 2107) return 0;
  uint32_t date = uint32_t((year - 1980) << 9 | local.wMonth << 5 | local.wDay);
  uint32_t tod = uint32_t(local.wHour << 11 | local.wMinute << 5 | local.wSecond / 2);
  return date << 16 | tod;
}

unsigned CpuCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? unsigned(info.dwNumberOfProcessors) : 1;
}

bool ListFolder(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(dir, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && IsFolder(dir);
  do {
    std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

bool IsFolder(const std::string& path) {
  DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFolderFiles(const std::string& dir, bool andFolder) {
  std::vector<std::string> names;
  if (ListFolder(dir, names))
    for (const std::string& n : names) DeleteFileA(JoinPath(dir, n).c_str());
  if (andFolder) RemoveDirectoryA(dir.c_str());
}

bool StderrIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

// ---- Threads ---------------------------------------------------------------

namespace {

struct TMonitorImpl {
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE changed;
};

struct TThreadJob {
  void (*work)(void*);
  void* context;
};

DWORD WINAPI RunThread(void* arg) {
  TThreadJob job = *static_cast<TThreadJob*>(arg);
  delete static_cast<TThreadJob*>(arg);
  job.work(job.context);
  return 0;
}

}  // namespace

TMonitor::TMonitor() : impl_(new TMonitorImpl) {
  TMonitorImpl* m = static_cast<TMonitorImpl*>(impl_);
  InitializeCriticalSection(&m->lock);
  InitializeConditionVariable(&m->changed);
}

TMonitor::~TMonitor() {
  TMonitorImpl* m = static_cast<TMonitorImpl*>(impl_);
  DeleteCriticalSection(&m->lock);
  delete m;
}

void TMonitor::Lock() { EnterCriticalSection(&static_cast<TMonitorImpl*>(impl_)->lock); }
void TMonitor::Unlock() { LeaveCriticalSection(&static_cast<TMonitorImpl*>(impl_)->lock); }
void TMonitor::Wait() {
  TMonitorImpl* m = static_cast<TMonitorImpl*>(impl_);
  SleepConditionVariableCS(&m->changed, &m->lock, INFINITE);
}
void TMonitor::NotifyAll() { WakeAllConditionVariable(&static_cast<TMonitorImpl*>(impl_)->changed); }

bool TThreadGroup::Start(void (*work)(void*), void* context) {
  TThreadJob* job = new TThreadJob{work, context};
  // CreateThread, not _beginthreadex: the workers call zlib and file reads
  // only, no C runtime state that needs a per-thread set-up.
  HANDLE h = CreateThread(nullptr, 0, RunThread, job, 0, nullptr);
  if (!h) {
    delete job;
    return false;
  }
  threads_.push_back(h);
  return true;
}

void TThreadGroup::Join() {
  for (void* h : threads_) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
  threads_.clear();
}

// ---- Unfinished output and Ctrl-C -------------------------------------------

namespace {

// The temporary files of the build in progress, for the console handler,
// which Windows runs on a thread of its own; the lock keeps the table whole
// while a volume is added or committed.
const int kPendingSlots = 64;
char g_pendingTemp[kPendingSlots][MAX_PATH * 4];
CRITICAL_SECTION g_pendingLock;
bool g_pendingLockReady = false;

struct TPendingLock {
  TPendingLock() {
    if (g_pendingLockReady) EnterCriticalSection(&g_pendingLock);
  }
  ~TPendingLock() {
    if (g_pendingLockReady) LeaveCriticalSection(&g_pendingLock);
  }
};

const int kInterruptedExitCode = 130;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  {
    TPendingLock lock;
    // The files are open with FILE_SHARE_DELETE: each goes when the process
    // ends and its handle is closed.
    for (int i = 0; i < kPendingSlots; ++i)
      if (g_pendingTemp[i][0]) DeleteFileA(g_pendingTemp[i]);
  }
  std::fflush(stdout);
  ExitProcess(kInterruptedExitCode);
  return TRUE;
}

int ClaimPending(const std::string& path) {
  TPendingLock lock;
  if (path.size() >= sizeof g_pendingTemp[0]) return -1;
  for (int i = 0; i < kPendingSlots; ++i) {
    if (!g_pendingTemp[i][0]) {
      std::strcpy(g_pendingTemp[i], path.c_str());
      return i;
    }
  }
  return -1;
}

void ReleasePending(int& slot) {
  TPendingLock lock;
  if (slot >= 0) g_pendingTemp[slot][0] = 0;
  slot = -1;
}

}  // namespace

void PreparePlatform() {
  // The core's trace lines (checksum timings) belong to the stub's debug
  // viewer and would otherwise reach standard output here.
  SetTraceSink(nullptr);
  // Text mode would turn "\n" into "\r\n": inspect and the summary lines are
  // the same bytes as the host tool's.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  InitializeCriticalSection(&g_pendingLock);
  g_pendingLockReady = true;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

TOutFile::~TOutFile() { Discard(); }

bool TOutFile::Create(const std::string& target, uint32_t, std::string& error) {
  Discard();
  target_ = target;
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".tmp-%lu-%u", GetCurrentProcessId(), ++counter);
    std::string temp = target + suffix;
    // Shared reading, so that the checksum and the volume test can read it
    // while it is open; shared deleting, so that Ctrl-C can remove it.
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
      error = "cannot create a file beside " + target + ": " + LastError();
      return false;
    }
    handle_ = h;
    temp_ = temp;
    slot_ = ClaimPending(temp_);
    size_ = 0;
    return true;
  }
  error = "cannot create a file beside " + target + ": too many temporary files there";
  return false;
}

bool TOutFile::Append(const void* data, size_t len) { return WriteAt(size_, data, len); }

bool TOutFile::WriteAt(int64_t pos, const void* data, size_t len) {
  if (!handle_) {
    writeError_ = "not open";
    return false;
  }
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    OVERLAPPED ov = {};
    uint64_t at = uint64_t(pos) + done;
    ov.Offset = DWORD(at);
    ov.OffsetHigh = DWORD(at >> 32);
    DWORD want = DWORD(len - done > (1u << 24) ? (1u << 24) : len - done), wrote = 0;
    if (!WriteFile(handle_, p + done, want, &wrote, &ov) || wrote == 0) {
      writeError_ = wrote == 0 && GetLastError() == 0 ? "nothing written" : LastError();
      return false;
    }
    done += wrote;
  }
  if (pos + int64_t(len) > size_) size_ = pos + int64_t(len);
  return true;
}

bool TOutFile::Commit(std::string& error) {
  if (!handle_) {
    error = "no output file";
    return false;
  }
  bool ok = FlushFileBuffers(handle_) != 0;
  DWORD code = ok ? 0 : GetLastError();
  ok = CloseHandle(handle_) != 0 && ok;
  handle_ = nullptr;
  if (ok && !MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    code = GetLastError();
  }
  if (!ok) {
    error = "cannot write " + target_ + ": " + ErrorText(code ? code : GetLastError());
    Discard();
    return false;
  }
  temp_.clear();
  ReleasePending(slot_);
  return true;
}

void TOutFile::Discard() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
  if (!temp_.empty()) DeleteFileA(temp_.c_str());
  temp_.clear();
  ReleasePending(slot_);
}
