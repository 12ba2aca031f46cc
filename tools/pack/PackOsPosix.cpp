#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "PackOs.h"
#include "util/Trace.h"

bool GetFileFacts(const std::string& path, TFileFacts& facts) {
  facts = TFileFacts();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  facts.Exists = true;
  facts.IsRegular = S_ISREG(st.st_mode);
  facts.Size = uint64_t(st.st_size);
  facts.WriteTime = int64_t(st.st_mtime);
  facts.Device = uint64_t(st.st_dev);
  facts.Node = uint64_t(st.st_ino);
  facts.Mode = uint32_t(st.st_mode & 07777);
  return true;
}

bool IsPathSeparator(char c) { return c == '/'; }

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  buffer[n] = 0;
  return buffer;
}

std::string DirPartOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (name.empty()) return dir;
  if (name[0] == '/' || dir.empty() || dir == ".") return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string RealPathOf(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer)) return buffer;
  // Not there yet: resolve the folder and keep the name.
  std::string dir = DirPartOf(path);
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || !::realpath(dir.c_str(), buffer)) return "";
  return JoinPath(buffer, name);
}

uint32_t LocalDosDateTime(int64_t unixSeconds) {
  time_t t = time_t(unixSeconds);
  struct tm local;
  if (!localtime_r(&t, &local)) return 0;
  int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  uint32_t date = uint32_t((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  // A leap second (tm_sec 60) does not fit the five bits of halved seconds.
  int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  uint32_t tod = uint32_t(local.tm_hour << 11 | local.tm_min << 5 | sec / 2);
  return date << 16 | tod;
}

bool ListFolder(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveFolderFiles(const std::string& dir, bool andFolder) {
  std::vector<std::string> names;
  if (ListFolder(dir, names))
    for (const std::string& n : names) ::unlink(JoinPath(dir, n).c_str());
  if (andFolder) ::rmdir(dir.c_str());
}

unsigned CpuCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

bool StderrIsTerminal() { return ::isatty(2) == 1; }

uint64_t MonotonicMilliseconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

namespace {

struct TMonitorImpl {
  std::mutex mutex;
  std::condition_variable changed;
};

void* RunThread(void* arg) {
  auto* job = static_cast<std::pair<void (*)(void*), void*>*>(arg);
  job->first(job->second);
  delete job;
  return nullptr;
}

}  // namespace

TMonitor::TMonitor() : impl_(new TMonitorImpl) {}
TMonitor::~TMonitor() { delete static_cast<TMonitorImpl*>(impl_); }
void TMonitor::Lock() { static_cast<TMonitorImpl*>(impl_)->mutex.lock(); }
void TMonitor::Unlock() { static_cast<TMonitorImpl*>(impl_)->mutex.unlock(); }
void TMonitor::Wait() {
  // The caller holds the mutex; adopt it for the wait and give it back held.
  TMonitorImpl* m = static_cast<TMonitorImpl*>(impl_);
  std::unique_lock<std::mutex> lock(m->mutex, std::adopt_lock);
  m->changed.wait(lock);
  lock.release();
}
void TMonitor::NotifyAll() { static_cast<TMonitorImpl*>(impl_)->changed.notify_all(); }

bool TThreadGroup::Start(void (*work)(void*), void* context) {
  pthread_t thread;
  auto* job = new std::pair<void (*)(void*), void*>(work, context);
  if (::pthread_create(&thread, nullptr, RunThread, job) != 0) {
    delete job;
    return false;
  }
  threads_.push_back(reinterpret_cast<void*>(new pthread_t(thread)));
  return true;
}

void TThreadGroup::Join() {
  for (void* t : threads_) {
    pthread_t* thread = static_cast<pthread_t*>(t);
    ::pthread_join(*thread, nullptr);
    delete thread;
  }
  threads_.clear();
}

namespace {

// The temporary files of the build in progress (a spanned build has one per
// volume), for the signal handler. Volumes past the table's size are still
// removed on every ordinary failure, only not on a signal.
const int kPendingSlots = 64;
char g_pendingTemp[kPendingSlots][PATH_MAX + 64];

void RemovePendingAndExit(int sig) {
  for (int i = 0; i < kPendingSlots; ++i)
    if (g_pendingTemp[i][0]) ::unlink(g_pendingTemp[i]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

int ClaimPending(const std::string& path) {
  for (int i = 0; i < kPendingSlots; ++i) {
    if (!g_pendingTemp[i][0]) {
      ::strcpy(g_pendingTemp[i], path.c_str());
      return i;
    }
  }
  return -1;
}

void ReleasePending(int& slot) {
  if (slot >= 0) g_pendingTemp[slot][0] = 0;
  slot = -1;
}

}  // namespace

void PreparePlatform() {
  // The core's trace lines (checksum timings) are the stub's; none here.
  SetTraceSink(nullptr);
}

namespace {

void WatchSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int s : signals) ::signal(s, RemovePendingAndExit);
}

std::string ErrnoText() { return ::strerror(errno); }

}  // namespace

TOutFile::~TOutFile() { Discard(); }

bool TOutFile::Create(const std::string& target, uint32_t mode, std::string& error) {
  Discard();
  target_ = target;
  std::string pattern = target + ".tmp-XXXXXX";
  if (pattern.size() >= sizeof(g_pendingTemp[0])) {
    error = target + ": path too long";
    return false;
  }
  std::string buffer = pattern;
  WatchSignals();
  fd_ = ::mkstemp(&buffer[0]);
  if (fd_ < 0) {
    error = "cannot create a file beside " + target + ": " + ErrnoText();
    return false;
  }
  temp_ = buffer;
  slot_ = ClaimPending(temp_);
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, mode_t(mode & ~uint32_t(mask) & 0777));
  size_ = 0;
  return true;
}

bool TOutFile::Append(const void* data, size_t len) {
  if (!WriteAt(size_, data, len)) return false;
  return true;
}

bool TOutFile::WriteAt(int64_t pos, const void* data, size_t len) {
  if (fd_ < 0) {
    writeError_ = "not open";
    return false;
  }
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, p + done, len - done, off_t(pos + int64_t(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeError_ = n < 0 ? ErrnoText() : "nothing written";
      return false;
    }
    done += size_t(n);
  }
  if (pos + int64_t(len) > size_) size_ = pos + int64_t(len);
  return true;
}

bool TOutFile::Commit(std::string& error) {
  if (fd_ < 0) {
    error = "no output file";
    return false;
  }
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (!ok || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    error = "cannot write " + target_ + ": " + ErrnoText();
    Discard();
    return false;
  }
  temp_.clear();
  ReleasePending(slot_);
  return true;
}

void TOutFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  ReleasePending(slot_);
}
