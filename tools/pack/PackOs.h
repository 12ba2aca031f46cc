// What korvan-pack needs from the operating system: file facts, real paths,
// local time, folders, worker threads, the console and an output file that
// appears only when it is complete. PackOsPosix.cpp holds the host's
// version, PackOsWin.cpp the Windows console program's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TFileFacts {
  bool Exists = false;
  bool IsRegular = false;
  uint64_t Size = 0;
  int64_t WriteTime = 0;  // seconds since 1970, UTC
  uint64_t Device = 0;    // with Node: the file's identity
  uint64_t Node = 0;
  uint32_t Mode = 0;      // permission bits
};

bool GetFileFacts(const std::string& path, TFileFacts& facts);

// The path with links and "." / ".." resolved; for a file that does not
// exist yet, its folder's real path plus its name. "" when the folder is
// missing too.
std::string RealPathOf(const std::string& path);

std::string JoinPath(const std::string& dir, const std::string& name);
std::string DirPartOf(const std::string& path);  // "." when there is no folder
bool IsPathSeparator(char c);                    // '/', and on Windows '\\'
// The full path of the running program; "" when it cannot be told.
std::string ExecutablePath();

// A Unix time as a DOS date-time in local time, as Windows stores a file's
// time: date in the high word, time in the low word, seconds halved. 0 when
// the time cannot be expressed (before 1980 or after 2107).
uint32_t LocalDosDateTime(int64_t unixSeconds);

unsigned CpuCount();

// Called first in main: standard output in binary mode (the same bytes on
// every system), the trace channel closed, the interrupt handler that
// removes unfinished output installed.
void PreparePlatform();
// Whether standard error is an interactive terminal (a console on Windows).
bool StderrIsTerminal();
// Milliseconds from an arbitrary start, never going back.
uint64_t MonotonicMilliseconds();

// A lock with one condition, for the compressing workers and their writer.
class TMonitor {
 public:
  TMonitor();
  ~TMonitor();
  TMonitor(const TMonitor&) = delete;
  TMonitor& operator=(const TMonitor&) = delete;
  void Lock();
  void Unlock();
  void Wait();  // with the lock held: releases it while waiting
  void NotifyAll();

 private:
  void* impl_;
};

class TMonitorLock {
 public:
  explicit TMonitorLock(TMonitor& m) : m_(m) { m_.Lock(); }
  ~TMonitorLock() { m_.Unlock(); }
  TMonitorLock(const TMonitorLock&) = delete;
  TMonitorLock& operator=(const TMonitorLock&) = delete;

 private:
  TMonitor& m_;
};

// Threads started to run Work(Context); Join waits for them all.
class TThreadGroup {
 public:
  TThreadGroup() = default;
  ~TThreadGroup() { Join(); }
  TThreadGroup(const TThreadGroup&) = delete;
  TThreadGroup& operator=(const TThreadGroup&) = delete;
  bool Start(void (*work)(void*), void* context);
  void Join();

 private:
  std::vector<void*> threads_;
};

// The names in a folder, without "." and ".."; false when it cannot be read.
bool ListFolder(const std::string& dir, std::vector<std::string>& names);
bool IsFolder(const std::string& path);
// Removes the files directly in Dir (not below), then Dir itself when asked.
void RemoveFolderFiles(const std::string& dir, bool andFolder);

// The package being written. It is created as a temporary file beside the
// target and renamed over the target by Commit; until then the target is
// untouched, and the temporary file is removed when the holder goes (or the
// process is interrupted).
class TOutFile {
 public:
  TOutFile() = default;
  ~TOutFile();
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  bool Create(const std::string& target, uint32_t mode, std::string& error);
  bool Append(const void* data, size_t len);
  bool WriteAt(int64_t pos, const void* data, size_t len);
  int64_t Size() const { return size_; }
  const std::string& TempPath() const { return temp_; }
  const std::string& Target() const { return target_; }
  // Why the last Append or WriteAt failed, as the system says it.
  const std::string& WriteError() const { return writeError_; }
  // Flushes, closes and renames; false (temporary file removed) on failure.
  bool Commit(std::string& error);
  void Discard();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // the temporary file's HANDLE
#else
  int fd_ = -1;
#endif
  int slot_ = -1;  // in the signal handler's table
  int64_t size_ = 0;
  std::string target_;
  std::string temp_;
  std::string writeError_;
};
