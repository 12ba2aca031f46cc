// Macro expansion with fixed sources: every folder a short fixed text, the
// date fixed, full paths folded by a plain rule.
#include "FuzzCommon.h"
#include "paths/Common.h"

namespace {
std::string Value(TMacroSource which) {
  if (int(which) % 5 == 0) return "";
  return "C:\\Src" + std::to_string(int(which));
}
std::string Date(char code) { return std::string("2026-12-10#") + code; }
std::string Full(const std::string& path) { return path.size() > 300 ? std::string() : "C:\\cwd\\" + path; }
const TMacroSources kSources = {Value, Date, Full};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> p = Parts(data, size, 4);
  SetInstallFolders(p[1], p[2], "D:\\Aux");
  ExpandMacrosWith(p[0], "\\", true, kSources);
  ExpandMacrosWith(p[0], "", false, kSources);
  (void)p[3];
  return 0;
}
