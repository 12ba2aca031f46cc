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
      // Word k of the block (from 1) counts while r - 4k > 4, that is for
      // the first (r - 5) / 4 words: a plain sum over those, no test per word.
      const int64_t words = int64_t(n / 4);
      int64_t counted = r > 4 ? (r - 5) / 4 : 0;
      if (counted > words) counted = words;
      uint32_t blockSum = 0;
      for (int64_t k = 0; k < counted; ++k) blockSum += GetU32(p + 4 * k);
      sum += blockSum;
      r -= 4 * words;
      used += n;
      if (r > 4) sum += 1234;
      if (n != kCrcBlock) break;
    }
  }
  const uint32_t ms = TickCountMs() - started;  // wraps like the tick count
  TraceLine("GetCrc - END   MS=" + IntToStr(int64_t(ms)) + "    CRC=" + IntToStr(int64_t(sum)));
  return sum;
}
