// The package checksum: a 32-bit additive sum over the package body.
#include <cstdint>
#include <vector>

#include "package/PackX.h"
#include "util/Trace.h"
#include "util/Utils.h"

namespace {
const size_t kCrcBlock = 4096;
// Blocks are summed as the format defines them (4096 bytes each), but read
// sixteen at a time: fewer system calls, the same sum.
const size_t kReadBuffer = 16 * kCrcBlock;
}  // namespace

uint32_t GetCrc(const std::string& fileName, int32_t headerSize) {
  TraceLine("GetCrc - START");
  const uint32_t started = TickCountMs();
  uint32_t sum = 0;
  TInFile file(fileName);
  int64_t r = file.Size();
  if (r >= 0) {
    int64_t start = 0;
    uint32_t stored;
    if (IsPeFile(file) && file.ReadU32(kPackageEndOffset, stored) && int32_t(stored) > 0) {
      r = int32_t(stored) - int64_t(headerSize) - kCrcSkipBytes;
      start = kCrcSkipBytes;
    } else {
      r -= headerSize;
    }
    std::vector<uint8_t> storage(kReadBuffer);
    uint8_t* buffer = storage.data();
    int64_t pos = start;
    size_t have = 0, used = 0;
    for (;;) {
      if (used == have) {
        have = file.ReadAt(pos, buffer, kReadBuffer);
        pos += int64_t(have);
        used = 0;
      }
      size_t n = have - used < kCrcBlock ? have - used : kCrcBlock;
      const uint8_t* p = buffer + used;
      for (size_t i = 0; i + 4 <= n; i += 4) {
        r -= 4;
        if (r > 4) sum += GetU32(p + i);
      }
      used += n;
      if (r > 4) sum += 1234;
      if (n != kCrcBlock) break;
    }
  }
  const uint32_t ms = TickCountMs() - started;  // wraps like the tick count
  TraceLine("GetCrc - END   MS=" + IntToStr(int64_t(ms)) + "    CRC=" + IntToStr(int64_t(sum)));
  return sum;
}
