// Registry and profile access through the system. Every call opens what it
// needs and closes it before returning.
#include "util/RegistryWin.h"

#include <cstring>

#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

HKEY KeyOfRoot(TRegRoot root) {
  switch (root) {
    case kRegClassesRoot: return HKEY_CLASSES_ROOT;
    case kRegLocalMachine: return HKEY_LOCAL_MACHINE;
    case kRegUsers: return HKEY_USERS;
    case kRegCurrentConfig: return HKEY_CURRENT_CONFIG;
    case kRegDynData: return HKEY_DYN_DATA;
    case kRegCurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

// Closes the key on every way out of the caller.
struct TKey {
  HKEY key = nullptr;
  TKey() = default;
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  ~TKey() {
    if (key) RegCloseKey(key);
  }
};

const DWORD kRegBufferSize = 2048;
const DWORD kProfileBufferSize = 10241;

}  // namespace

HKEY RootKeyOf(const std::string& rootName) { return KeyOfRoot(RegRootOf(rootName)); }

void SplitRegPath(const std::string& path, HKEY& root, std::string& subKey) {
  TRegRoot r;
  SplitRegPath(path, r, subKey);
  root = KeyOfRoot(r);
}

std::string RegReadString(const std::string& path, const std::string& valueName, const std::string& def) {
  HKEY root;
  std::string subKey;
  SplitRegPath(path, root, subKey);
  TKey key;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key.key) != ERROR_SUCCESS) {
    key.key = nullptr;
    return def;
  }
  char buffer[kRegBufferSize];
  DWORD type = 0, size = kRegBufferSize;
  // A value too large for the buffer reports ERROR_MORE_DATA: the default.
  if (RegQueryValueExA(key.key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return def;
  if (size > kRegBufferSize) return def;
  if (type == REG_DWORD && size == 4) {
    DWORD v;
    memcpy(&v, buffer, 4);
    return IntToStr(int64_t(v));
  }
  // A string stored without its zero still ends at the data's size.
  return std::string(buffer, strnlen(buffer, size));
}

bool RegWriteValue(const std::string& path, const std::string& valueName, const std::string& data,
                   unsigned long valueType) {
  HKEY root;
  std::string subKey;
  SplitRegPath(path, root, subKey);
  TKey key;
  DWORD disposition;
  if (RegCreateKeyExA(root, subKey.c_str(), 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                      nullptr, &key.key, &disposition) != ERROR_SUCCESS) {
    key.key = nullptr;
    return false;
  }
  return RegSetValueExA(key.key, valueName.c_str(), 0, valueType, reinterpret_cast<const BYTE*>(data.c_str()),
                        DWORD(data.size() + 1)) == ERROR_SUCCESS;
}

std::string ProfileReadString(const std::string& fileName, const std::string& section, const std::string& key,
                              const std::string& def) {
  char buffer[kProfileBufferSize];
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer, kProfileBufferSize,
                                     fileName.c_str());
  if (n >= kProfileBufferSize) n = kProfileBufferSize - 1;
  return std::string(buffer, n);
}

int64_t ProfileReadInt(const std::string& fileName, const std::string& section, const std::string& key,
                       int64_t def) {
  return StrToInt64Def(ProfileReadString(fileName, section, key, IntToStr(def)), def);
}

bool ProfileWriteString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName.c_str()) != FALSE;
}

bool ProfileWriteInt(const std::string& fileName, const std::string& section, const std::string& key,
                     int64_t value) {
  return ProfileWriteString(fileName, section, key, IntToStr(value));
}

std::string CurrentUserName() {
  char buffer[256];
  DWORD size = sizeof(buffer);
  if (!GetUserNameA(buffer, &size)) return std::string();
  return Trim(std::string(buffer, strnlen(buffer, sizeof(buffer))));
}

std::string CurrentVersionKeyPath() { return CurrentVersionKeyPathFor(IsWinNT()); }

std::string GetRegisteredOwner() {
  return Trim(RegReadString(CurrentVersionKeyPath(), "RegisteredOwner", CurrentUserName()));
}

std::string GetRegisteredOrganization() {
  return Trim(RegReadString(CurrentVersionKeyPath(), "RegisteredOrganization", ""));
}
