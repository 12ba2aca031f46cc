// Times the package checksum over one file: prints the checksum and the
// seconds it took, for the benchmark suite.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "package/PackX.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: crc_time FILE [HEADER_SIZE]\n");
    return 2;
  }
  const int headerSize = argc > 2 ? std::atoi(argv[2]) : 74;
  const auto start = std::chrono::steady_clock::now();
  const uint32_t crc = GetCrc(argv[1], headerSize);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%u %.6f\n", crc, took.count());
  return 0;
}
