#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "util/Registry.h"
#include "util/RegistryWin.h"
#include "util/UtilsWin.h"

namespace {

const char kTestKey[] = "Software\\KorvanTest\\Registry";
const std::string kTestPath = std::string("HKEY_CURRENT_USER\\") + kTestKey;

// Deletes Key with every key under it (the registry refuses to delete a
// key that still has sub-keys).
void DeleteKeyTree(HKEY root, const std::string& key) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &k) == ERROR_SUCCESS) {
    char name[256];
    DWORD size = sizeof(name);
    while (RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      DeleteKeyTree(k, name);
      size = sizeof(name);
    }
    RegCloseKey(k);
  }
  RegDeleteKeyA(root, key.c_str());
}

// Reads a value directly, to see where a path really led.
bool RawRead(HKEY root, const std::string& key, const std::string& value, std::string& out) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  char buf[4096];
  DWORD size = sizeof(buf), type;
  const LONG rc = RegQueryValueExA(k, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return false;
  out.assign(buf, strnlen(buf, size));
  return true;
}

void RawWrite(const std::string& key, const std::string& value, DWORD type, const void* data, DWORD size) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                                           nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, value.c_str(), 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(k);
}

class RegistryWin : public ::testing::Test {
 protected:
  void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestKey); }
  void TearDown() override {
    DeleteKeyTree(HKEY_CURRENT_USER, kTestKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KorvanTest");  // only when empty
  }
};

}  // namespace

TEST_F(RegistryWin, StringRoundTripAndDefaults) {
  EXPECT_EQ("dflt", RegReadString(kTestPath, "Missing", "dflt"));  // no key yet
  ASSERT_TRUE(RegWriteValue(kTestPath + "\\Deeper", "OriginDir", "C:\\some where", REG_SZ));
  EXPECT_EQ("C:\\some where", RegReadString(kTestPath + "\\Deeper", "OriginDir", "dflt"));
  EXPECT_EQ("dflt", RegReadString(kTestPath + "\\Deeper", "Missing", "dflt"));
  // The stored bytes carry the terminating zero.
  std::string raw;
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, std::string(kTestKey) + "\\Deeper", "OriginDir", raw));
  EXPECT_EQ("C:\\some where", raw);
  // An empty value name is the key's default value; an empty text reads as "".
  ASSERT_TRUE(RegWriteValue(kTestPath, "", "the default", REG_SZ));
  EXPECT_EQ("the default", RegReadString(kTestPath, "", "dflt"));
  ASSERT_TRUE(RegWriteValue(kTestPath, "Empty", "", REG_SZ));
  EXPECT_EQ("", RegReadString(kTestPath, "Empty", "dflt"));
}

TEST_F(RegistryWin, DwordReadsAsUnsignedDecimal) {
  static const DWORD kValues[] = {0, 7, 2147483648u, 4294967295u};
  for (DWORD v : kValues) {
    RawWrite(kTestKey, "Number", REG_DWORD, &v, 4);
    EXPECT_EQ(std::to_string(v), RegReadString(kTestPath, "Number", "dflt"));
  }
}

TEST_F(RegistryWin, OtherTypesReadUpToTheFirstZero) {
  const char expand[] = "%TEMP%\\x";
  RawWrite(kTestKey, "Expand", REG_EXPAND_SZ, expand, sizeof(expand));
  EXPECT_EQ("%TEMP%\\x", RegReadString(kTestPath, "Expand", "dflt"));  // not expanded
  const char multi[] = "one\0two\0";
  RawWrite(kTestKey, "Multi", REG_MULTI_SZ, multi, sizeof(multi));
  EXPECT_EQ("one", RegReadString(kTestPath, "Multi", "dflt"));
  const char noZero[] = {'a', 'b', 'c'};
  RawWrite(kTestKey, "NoZero", REG_BINARY, noZero, 3);
  EXPECT_EQ("abc", RegReadString(kTestPath, "NoZero", "dflt"));
  // Four bytes of another type are text, not a number.
  RawWrite(kTestKey, "Four", REG_BINARY, "wxyz", 4);
  EXPECT_EQ("wxyz", RegReadString(kTestPath, "Four", "dflt"));
}

TEST_F(RegistryWin, ValueMustFitTheBuffer) {
  ASSERT_TRUE(RegWriteValue(kTestPath, "Fits", std::string(2047, 'f'), REG_SZ));  // 2048 bytes with its zero
  EXPECT_EQ(std::string(2047, 'f'), RegReadString(kTestPath, "Fits", "dflt"));
  ASSERT_TRUE(RegWriteValue(kTestPath, "TooLong", std::string(2048, 't'), REG_SZ));
  EXPECT_EQ("dflt", RegReadString(kTestPath, "TooLong", "dflt"));
  ASSERT_TRUE(RegWriteValue(kTestPath, "Huge", std::string(5000, 'h'), REG_SZ));
  EXPECT_EQ("dflt", RegReadString(kTestPath, "Huge", "dflt"));
}

TEST_F(RegistryWin, RootNamesSelectTheirKeys) {
  // Lower case works; every other spelling lands under the current user.
  ASSERT_TRUE(RegWriteValue("hkey_current_user\\" + std::string(kTestKey), "Lower", "l", REG_SZ));
  ASSERT_TRUE(RegWriteValue(std::string("HKEY_PERFORMANCE_DATA\\") + kTestKey, "Unknown", "u", REG_SZ));
  ASSERT_TRUE(RegWriteValue(std::string("  ") + kTestKey + " ", "NoRoot", "n", REG_SZ));
  std::string raw;
  EXPECT_TRUE(RawRead(HKEY_CURRENT_USER, kTestKey, "Lower", raw) && raw == "l");
  EXPECT_TRUE(RawRead(HKEY_CURRENT_USER, kTestKey, "Unknown", raw) && raw == "u");
  EXPECT_TRUE(RawRead(HKEY_CURRENT_USER, kTestKey, "NoRoot", raw) && raw == "n");

  const std::string ntKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  ASSERT_TRUE(RawRead(HKEY_LOCAL_MACHINE, ntKey, "CurrentVersion", raw));
  EXPECT_EQ(raw, RegReadString("hkey_local_machine\\software\\microsoft\\windows nt\\currentversion",
                               "CurrentVersion", "dflt"));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, RootKeyOf("hkey_local_machine"));
  EXPECT_EQ(HKEY_CURRENT_USER, RootKeyOf("HKEY_PERFORMANCE_DATA"));
  HKEY root;
  std::string subKey;
  SplitRegPath("HKEY_CLASSES_ROOT\\.txt", root, subKey);
  EXPECT_EQ(HKEY_CLASSES_ROOT, root);
  EXPECT_EQ(".txt", subKey);
}

TEST_F(RegistryWin, WriteReportsAKeyItCannotCreate) {
  // A key name longer than the registry allows.
  EXPECT_FALSE(RegWriteValue(kTestPath + "\\" + std::string(300, 'k'), "V", "x", REG_SZ));
  EXPECT_EQ("dflt", RegReadString(kTestPath + "\\" + std::string(300, 'k'), "V", "dflt"));
}

// ---- Profiles ------------------------------------------------------------------

namespace {

class ProfileWin : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TempDir(true) + "KorvanProfileTest" + std::to_string(GetCurrentProcessId()) + ".ini";
    DeleteFileA(file_.c_str());
  }
  void TearDown() override { DeleteFileA(file_.c_str()); }
  std::string file_;
};

}  // namespace

TEST_F(ProfileWin, StringsAndNumbersRoundTrip) {
  EXPECT_EQ("dflt", ProfileReadString(file_, "Main", "Key", "dflt"));  // no file yet
  ASSERT_TRUE(ProfileWriteString(file_, "Main", "Key", "some value"));
  EXPECT_EQ("some value", ProfileReadString(file_, "Main", "Key", "dflt"));
  EXPECT_EQ("dflt", ProfileReadString(file_, "Main", "Other", "dflt"));
  EXPECT_EQ("dflt", ProfileReadString(file_, "Elsewhere", "Key", "dflt"));

  static const int64_t kNumbers[] = {0, -1, 2147483648LL, 9007199254740993LL, INT64_MIN, INT64_MAX};
  for (int64_t n : kNumbers) {
    ASSERT_TRUE(ProfileWriteInt(file_, "Numbers", "N", n));
    EXPECT_EQ(std::to_string(n), ProfileReadString(file_, "Numbers", "N", ""));
    EXPECT_EQ(n, ProfileReadInt(file_, "Numbers", "N", 42));
  }
}

TEST_F(ProfileWin, NonNumbersReadAsTheDefault) {
  ASSERT_TRUE(ProfileWriteString(file_, "Main", "Text", "abc"));
  ASSERT_TRUE(ProfileWriteString(file_, "Main", "Mixed", "12abc"));
  ASSERT_TRUE(ProfileWriteString(file_, "Main", "Empty", ""));
  EXPECT_EQ(-5, ProfileReadInt(file_, "Main", "Text", -5));
  EXPECT_EQ(-5, ProfileReadInt(file_, "Main", "Mixed", -5));
  EXPECT_EQ(-5, ProfileReadInt(file_, "Main", "Empty", -5));
  EXPECT_EQ(9000000000LL, ProfileReadInt(file_, "Main", "Missing", 9000000000LL));
  EXPECT_EQ(7, ProfileReadInt(file_ + ".none", "Main", "Text", 7));
}

TEST_F(ProfileWin, LongValueIsCutAtTheBuffer) {
  ASSERT_TRUE(ProfileWriteString(file_, "Main", "Long", std::string(20000, 'v')));
  const std::string got = ProfileReadString(file_, "Main", "Long", "dflt");
  EXPECT_EQ(std::string(10240, 'v'), got);
}

// ---- User and owner --------------------------------------------------------------

namespace {

const char kNtVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Puts a CurrentVersion value back the way the test found it.
class SavedMachineValue {
 public:
  explicit SavedMachineValue(const char* name) : name_(name) {
    present_ = RawRead(HKEY_LOCAL_MACHINE, kNtVersionKey, name_, value_);
  }
  ~SavedMachineValue() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNtVersionKey, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    if (present_)
      RegSetValueExA(k, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value_.c_str()),
                     DWORD(value_.size() + 1));
    else
      RegDeleteValueA(k, name_.c_str());
    RegCloseKey(k);
  }
  bool Set(const char* text) {
    return RegWriteValue(std::string("HKEY_LOCAL_MACHINE\\") + kNtVersionKey, name_, text, REG_SZ);
  }
  bool Remove() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNtVersionKey, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return false;
    const LONG rc = RegDeleteValueA(k, name_.c_str());
    RegCloseKey(k);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
  }

 private:
  std::string name_, value_;
  bool present_ = false;
};

}  // namespace

TEST(RegistryOwnerWin, UserNameIsTrimmedAndPresent) {
  const std::string user = CurrentUserName();
  EXPECT_FALSE(user.empty());
  EXPECT_EQ(Trim(user), user);
  ASSERT_TRUE(IsWinNT());
  EXPECT_EQ(CurrentVersionKeyPathFor(true), CurrentVersionKeyPath());
}

TEST(RegistryOwnerWin, OwnerFromTheNtKeyElseTheUser) {
  SavedMachineValue owner("RegisteredOwner");
  ASSERT_TRUE(owner.Set("  Fellmoor Owner \t"));
  EXPECT_EQ("Fellmoor Owner", GetRegisteredOwner());
  ASSERT_TRUE(owner.Remove());
  EXPECT_EQ(CurrentUserName(), GetRegisteredOwner());
}

TEST(RegistryOwnerWin, OrganizationFromTheNtKeyElseEmpty) {
  SavedMachineValue organization("RegisteredOrganization");
  ASSERT_TRUE(organization.Set(" Fellmoor Ltd "));
  EXPECT_EQ("Fellmoor Ltd", GetRegisteredOrganization());
  ASSERT_TRUE(organization.Remove());
  EXPECT_EQ("", GetRegisteredOrganization());
}
