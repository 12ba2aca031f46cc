// Test kit: prints the path macros of its arguments as this machine expands
// them, one line each, with suffix "\" and relative folding on, as the agent
// expands a product path.
//
//   macro_probe.exe [-nofold] [-install APP COMMON AUX] TEXT...
//
// -install sets the three install folders first. Each line is "=" followed
// by the expansion, so that an empty result still shows as a line.
#include <cstdio>
#include <cstring>
#include <string>

#include "paths/Common.h"

int main(int argc, char** argv) {
  bool fold = true;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "-nofold") == 0) {
      fold = false;
    } else if (std::strcmp(argv[i], "-install") == 0 && i + 3 < argc) {
      SetInstallFolders(argv[i + 1], argv[i + 2], argv[i + 3]);
      i += 3;
    } else {
      break;
    }
  }
  for (; i < argc; ++i) std::printf("=%s\n", ExpandMacros(argv[i], "\\", fold).c_str());
  std::fflush(stdout);
  return 0;
}
