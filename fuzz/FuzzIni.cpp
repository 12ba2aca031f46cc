// korvan-pack's INI reader for project and language files.
#include "../tools/pack/PackIni.h"
#include "FuzzCommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath("project.ini");
  WriteScratch(path, data, size);
  std::vector<TIniSection> sections;
  std::string error;
  ReadIniFile(path, sections, error);
  return 0;
}
