// `korvan-pack build`: checks every input, then writes the stub, the text
// sections, the compressed entries and the header to a temporary file beside
// the output, patches the package end and the checksum, and renames it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackOptions.h"

struct TBuildReport {
  int Entries = 0;
  uint64_t RawSize = 0;     // SizeByCluster[0]
  int64_t PackageEnd = 0;   // the output's size
  uint32_t Crc = 0;
  int Volumes = 1;         // PATH, PATH.002, ...
  std::vector<std::string> Warnings;
};

// False with Error, one line naming the culprit; the output is then untouched.
bool BuildPackage(const TBuildOptions& options, TBuildReport& report, std::string& error);

// The LanguageList of a language INI file: one 0x01-list per section, in
// file order, inside a 0x02-list.
bool BuildLanguageList(const std::string& path, std::string& list, std::vector<std::string>& warnings,
                       std::string& error);

// Why Name cannot be a file name of the package ("" when it can).
std::string FileNameProblem(const std::string& name);
