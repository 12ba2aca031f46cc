// Win32 file functions: shared reading (deny none), so the stub can read its
// own running image and a setup being written by another program.
#include <windows.h>

#include "package/PackIO.h"

namespace {

void* OpenFile(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void CloseFile(void* h) { CloseHandle(h); }

int64_t SizeOf(void* h) {
  LARGE_INTEGER size;
  return GetFileSizeEx(h, &size) ? int64_t(size.QuadPart) : -1;
}

size_t ReadAt(void* h, int64_t pos, void* buffer, size_t len) {
  size_t done = 0;
  while (done < len) {
    OVERLAPPED ov = {};
    uint64_t at = uint64_t(pos) + done;
    ov.Offset = DWORD(at);
    ov.OffsetHigh = DWORD(at >> 32);
    DWORD want = DWORD(len - done > 0x40000000u ? 0x40000000u : len - done);
    DWORD got = 0;
    if (!ReadFile(h, static_cast<char*>(buffer) + done, want, &got, &ov) || got == 0) break;
    done += got;
  }
  return done;
}

bool Exists(const char* path) {
  DWORD attr = GetFileAttributesA(path);
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

const TFileApi kWinApi = {OpenFile, CloseFile, SizeOf, ReadAt, Exists};

}  // namespace

const TFileApi& PlatformFileApi() { return kWinApi; }
