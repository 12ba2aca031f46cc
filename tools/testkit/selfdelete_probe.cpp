// Test kit: starts the self-delete batch and ends, as the agent copy does.
//
//   selfdelete_probe.exe [HOLD_MS]
//
// HOLD_MS keeps the program running that long after the batch has started,
// so that the batch meets a file it cannot delete yet and has to retry.
// Prints the path of the batch it started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "paths/Files.h"
#include "util/UtilsWin.h"

int main(int argc, char** argv) {
  const long holdMs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  SelfDeleteBatch();
  std::printf("batch=%s_DEL_ME_.BAT\n", TempDir(true).c_str());
  std::fflush(stdout);
  if (holdMs > 0) Sleep(DWORD(holdMs));
  return 0;
}
