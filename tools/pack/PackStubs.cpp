#include "PackStubs.h"

#include <vector>

#include "PackOs.h"

const char* const kDefaultStubArch = "i686";

bool IsStubArch(const std::string& arch) { return arch == "i686" || arch == "x86_64"; }

std::vector<std::string> StubFolders() {
  std::vector<std::string> folders;
  std::string exe = ExecutablePath();
  if (!exe.empty()) {
    // PREFIX/bin/korvan-pack -> PREFIX/share/korvan
    std::string bin = DirPartOf(exe);
    std::string prefix = DirPartOf(bin);
    folders.push_back(JoinPath(JoinPath(prefix, "share"), "korvan"));
  }
#ifdef KORVAN_STUB_DIR
  std::string installed = KORVAN_STUB_DIR;
  if (!installed.empty() && (folders.empty() || RealPathOf(installed) != RealPathOf(folders[0])))
    folders.push_back(installed);
#endif
  return folders;
}

bool FindInstalledStub(const std::string& arch, std::string& path, std::string& error) {
  const std::string name = "stub-" + arch + ".exe";
  std::vector<std::string> folders = StubFolders();
  std::string looked;
  for (const std::string& folder : folders) {
    std::string candidate = JoinPath(folder, name);
    TFileFacts facts;
    if (GetFileFacts(candidate, facts) && facts.IsRegular) {
      path = candidate;
      return true;
    }
    looked += (looked.empty() ? "" : " and ") + folder;
  }
  error = "no stub given and no " + name + " installed (looked in " + (looked.empty() ? "no folder" : looked) +
          "): give --stub FILE";
  return false;
}
