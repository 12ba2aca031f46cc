// The extractor core over arbitrary packages, into a scratch folder that is
// emptied after every input; nothing may be written outside it.
#include <filesystem>

#include "FuzzCommon.h"
#include "package/UnPack.h"
#include "package/UnPackHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath("extract.pkg");
  static const std::string dir = ScratchPath("extract.out");
  WriteScratch(path, data, size);
  std::string messages;
  ResetExtractWriteFailures();
  ExtractToFolder(path, dir + "/inner", messages);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
