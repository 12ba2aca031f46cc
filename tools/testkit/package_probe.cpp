// Test kit: prints what the package reader of a Windows process sees in a
// package, one "key=value" line each, so that tests can check the language
// chosen for the user's locale.
//
//   package_probe.exe PACKAGE [KEY ...]
//
// Prints "language=" (the thread language name), "charset=" and, for each
// KEY, "KEY=" + LangText(KEY, "<default>").
#include <windows.h>

#include <cstdio>
#include <string>

#include "package/PackX.h"
#include "package/SLangId.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: package_probe PACKAGE [KEY ...]\n");
    return 2;
  }
  TGFileInfo info(argv[1]);
  std::printf("language=%s\n", ThreadLanguageName().c_str());
  std::printf("magic=%s\n", info.HasMagic() ? "yes" : "no");
  for (int i = 2; i < argc; ++i) std::printf("%s=%s\n", argv[i], info.LangText(argv[i], "<default>").c_str());
  std::printf("charset=%d\n", info.Charset());
  return 0;
}
