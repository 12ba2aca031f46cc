#include <windows.h>

#include "util/Registry.h"
#include "util/Utils.h"

namespace {

HKEY RootKeyOf(const std::string& rootName) {
  static const struct {
    const char* name;
    HKEY key;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", HKEY_DYN_DATA},
  };
  for (const auto& r : kRoots) {
    if (SameText(rootName, r.name)) return r.key;
  }
  return HKEY_CURRENT_USER;
}

void SplitRegPath(const std::string& rawPath, HKEY& root, std::string& subKey) {
  std::string path = Trim(rawPath);
  subKey = path;
  root = HKEY_CURRENT_USER;
  size_t slash = path.find('\\');
  if (PosText("HKEY_", path) == 1 && slash != std::string::npos) {
    subKey = path.substr(slash + 1);
    root = RootKeyOf(path.substr(0, slash));
  }
}

}  // namespace

std::string RegReadString(const std::string& path, const std::string& valueName, const std::string& def) {
  HKEY root;
  std::string subKey;
  SplitRegPath(path, root, subKey);
  HKEY key;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return def;
  char buffer[2048];
  DWORD type = 0, size = sizeof(buffer);
  LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return def;
  if (type == REG_DWORD && size == 4) {
    DWORD v;
    memcpy(&v, buffer, 4);
    return IntToStr(int64_t(v));
  }
  return std::string(buffer, strnlen(buffer, size));
}

bool RegWriteValue(const std::string& path, const std::string& valueName, const std::string& data,
                   unsigned long valueType) {
  HKEY root;
  std::string subKey;
  SplitRegPath(path, root, subKey);
  HKEY key;
  DWORD disposition;
  if (RegCreateKeyExA(root, subKey.c_str(), 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(key, valueName.c_str(), 0, valueType, reinterpret_cast<const BYTE*>(data.c_str()),
                           DWORD(data.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}
