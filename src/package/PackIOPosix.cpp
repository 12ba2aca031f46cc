// Host file functions for korvan-pack and the native tests.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/PackIO.h"

namespace {

void* OpenFile(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

void CloseFile(void* h) { ::close(Fd(h)); }

int64_t SizeOf(void* h) {
  struct stat st;
  return fstat(Fd(h), &st) == 0 ? int64_t(st.st_size) : -1;
}

size_t ReadAt(void* h, int64_t pos, void* buffer, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(Fd(h), static_cast<char*>(buffer) + done, len - done, off_t(pos + int64_t(done)));
    if (n <= 0) break;
    done += size_t(n);
  }
  return done;
}

bool Exists(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

const TFileApi kPosixApi = {OpenFile, CloseFile, SizeOf, ReadAt, Exists};

}  // namespace

const TFileApi& PlatformFileApi() { return kPosixApi; }
