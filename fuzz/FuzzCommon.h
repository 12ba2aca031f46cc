// Shared by the fuzz targets: a scratch file for the input and a way to split
// one input into several strings.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string ScratchPath(const char* name) {
  return std::string("/tmp/korvan-fuzz-") + std::to_string(getpid()) + "-" + name;
}

inline void WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// The input cut at its 0x00 bytes, at most Count parts (the last takes the rest).
inline std::vector<std::string> Parts(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < count) parts.emplace_back();
    else parts.back() += char(data[i]);
  }
  parts.resize(count);
  return parts;
}
