// Portable half of Files: the arithmetic and texts behind the Win32 calls.
#include "paths/Files.h"

namespace {
const size_t kOneMiB = 1048576;
}

bool EntryPassesMask(uint32_t attributes, uint32_t mask) {
  const uint32_t guarded = kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory;
  return (attributes & ~mask & guarded) == 0;
}

size_t WriteChunkSize(size_t total) {
  if (total <= kOneMiB) return total;
  const size_t tenth = total / 10;
  return tenth < kOneMiB ? tenth : kOneMiB;
}

int64_t ReadRangeCount(int64_t size, int64_t offset, int64_t maxCount) {
  if (offset < 0 || offset >= size) return 0;
  int64_t count = size - offset;
  if (maxCount != 0 && maxCount < count) count = maxCount;
  return count > 0 ? count : 0;
}

std::string MaskFolderPart(const std::string& mask) {
  const std::string folder = mask.substr(0, mask.size() - FilePartOf(mask).size());
  // "C:" alone names the drive's current folder: a backslash would make it
  // the root instead.
  if (folder.empty() || folder.back() == '\\' || folder.back() == ':') return folder;
  return folder + "\\";
}

std::string DiskRootOf(const std::string& path) {
  if (path.empty()) return std::string();
  return UpperCaseAscii(path.substr(0, 1)) + ":\\";
}

std::string SelfDeleteBatchText(const std::string& exePath, const std::string& batchPath) {
  return ":START\r\n"
         "DEL \"" + exePath + "\"\r\n"
         "IF errorlevel 1 GOTO START\r\n"
         "DEL \"" + batchPath + "\"\r\n";
}
