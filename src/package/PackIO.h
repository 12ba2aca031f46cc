// Reading files through a small table of functions, so that the package code
// never touches an OS handle and tests can feed it short or truncated files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TFileApi {
  // Opens read-only and lets others read, write and delete meanwhile (a
  // running program must be able to read its own file). Null on failure.
  void* (*Open)(const char* path);
  void (*Close)(void* handle);
  // Size in bytes, -1 on failure.
  int64_t (*Size)(void* handle);
  // Reads up to len bytes at pos; returns the count read, less than len only
  // at the end of the file or on an error.
  size_t (*ReadAt)(void* handle, int64_t pos, void* buffer, size_t len);
  bool (*Exists)(const char* path);
};

// The platform's file functions (PackIOWin.cpp / PackIOPosix.cpp).
const TFileApi& PlatformFileApi();

// The table the package code uses; tests may point it elsewhere.
const TFileApi& CurrentFileApi();
void SetFileApi(const TFileApi* api);  // null restores the platform's

// One open file, closed when the holder goes.
class TInFile {
 public:
  explicit TInFile(const std::string& path);
  ~TInFile();
  TInFile(const TInFile&) = delete;
  TInFile& operator=(const TInFile&) = delete;

  bool IsOpen() const { return handle_ != nullptr; }
  int64_t Size() const;
  size_t ReadAt(int64_t pos, void* buffer, size_t len) const;
  // Little-endian 32-bit value at pos; false when fewer than 4 bytes are there.
  bool ReadU32(int64_t pos, uint32_t& value) const;

 private:
  const TFileApi* api_;
  void* handle_;
};

bool FileExists(const std::string& path);

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
