// Portable half of the registry helpers: what a path string names.
#include "util/Registry.h"
#include "util/Utils.h"

TRegRoot RegRootOf(const std::string& rootName) {
  static const struct {
    const char* name;
    TRegRoot root;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", kRegClassesRoot},     {"HKEY_CURRENT_USER", kRegCurrentUser},
      {"HKEY_LOCAL_MACHINE", kRegLocalMachine},   {"HKEY_USERS", kRegUsers},
      {"HKEY_CURRENT_CONFIG", kRegCurrentConfig}, {"HKEY_DYN_DATA", kRegDynData},
  };
  for (const auto& r : kRoots) {
    if (SameText(rootName, r.name)) return r.root;
  }
  return kRegCurrentUser;
}

void SplitRegPath(const std::string& rawPath, TRegRoot& root, std::string& subKey) {
  const std::string path = Trim(rawPath);
  subKey = path;
  root = kRegCurrentUser;
  const size_t slash = path.find('\\');
  if (PosText("HKEY_", path) == 1 && slash != std::string::npos) {
    subKey = path.substr(slash + 1);
    root = RegRootOf(path.substr(0, slash));
  }
}

std::string CurrentVersionKeyPathFor(bool winNT) {
  return winNT ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
               : "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
}
