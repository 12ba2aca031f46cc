#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "paths/Common.h"
#include "util/Registry.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

const char kDynDataKey[] = "Software\\Korvan_Dyn_Data";
const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string envVar(const char* name) {
  char buffer[2048];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string withoutTrailingBackslash(std::string s) {
  if (s.size() > 3 && s.back() == '\\') s.pop_back();
  return s;
}

bool isFolder(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFile(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Keeps a registry value of HKEY_CURRENT_USER as the test found it.
class SavedUserValue {
 public:
  SavedUserValue(const char* key, const char* value) : key_(key), value_(value) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) == ERROR_SUCCESS) {
      char buf[4096];
      DWORD size = sizeof buf;
      present_ = RegQueryValueExA(k, value, nullptr, &type_, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS;
      if (present_) data_.assign(buf, size);
      RegCloseKey(k);
    }
  }
  ~SavedUserValue() {
    HKEY k;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
      return;
    if (present_)
      RegSetValueExA(k, value_, 0, type_, reinterpret_cast<const BYTE*>(data_.data()), DWORD(data_.size()));
    else
      RegDeleteValueA(k, value_);
    RegCloseKey(k);
  }
  void erase() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key_, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, value_);
    RegCloseKey(k);
  }

 private:
  const char* key_;
  const char* value_;
  bool present_ = false;
  DWORD type_ = REG_SZ;
  std::string data_;
};

std::string expand(const std::string& text) { return ExpandMacros(text, "\\", false); }

std::string localTimeText(const SYSTEMTIME& st, const char* picture) {
  char buf[128];
  const int n = GetDateFormatA(LOCALE_USER_DEFAULT, 0, &st, picture, buf, sizeof buf);
  return n > 1 ? std::string(buf, size_t(n - 1)) : std::string();
}

// The local clock as the OLE date type counts it, from the system's own
// conversion rather than ours.
double oleDateNow(SYSTEMTIME* out = nullptr) {
  typedef INT(WINAPI * ToVariantFn)(LPSYSTEMTIME, double*);
  HMODULE ole = LoadLibraryA("oleaut32.dll");
  ToVariantFn toVariant =
      ole ? reinterpret_cast<ToVariantFn>(reinterpret_cast<void (*)()>(GetProcAddress(ole, "SystemTimeToVariantTime")))
          : nullptr;
  SYSTEMTIME st;
  GetLocalTime(&st);
  if (out) *out = st;
  double value = 0;
  if (!toVariant || !toVariant(&st, &value)) ADD_FAILURE() << "SystemTimeToVariantTime is missing";
  return value;
}

}  // namespace

TEST(CommonWin, FolderMacrosGiveTheMachinesFolders) {
  char buffer[MAX_PATH + 1];
  GetWindowsDirectoryA(buffer, sizeof buffer);
  const std::string windows = withoutTrailingBackslash(buffer);
  GetSystemDirectoryA(buffer, sizeof buffer);
  const std::string system = withoutTrailingBackslash(buffer);
  GetTempPathA(sizeof buffer, buffer);
  const std::string temp = withoutTrailingBackslash(buffer);
  GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string exe = buffer;
  const std::string exeFolder = exe.substr(0, exe.rfind('\\'));

  const struct {
    const char* macro;
    std::string expected;
  } cases[] = {
      {"<WinDir>", windows},
      {"<Windows Directory>", windows},
      {"<WinSysDir>", system},
      {"<WinSys32Dir>", system},
      {"<TempDir>", temp},
      {"<UserAppDataDir>", envVar("APPDATA")},
      {"<MyDocumentsDir>", envVar("USERPROFILE") + "\\Documents"},
      {"<UserDir>", envVar("USERPROFILE")},
      {"<AllUsersAppDataDir>", envVar("ALLUSERSPROFILE")},
      {"<ProgramFilesDir>", envVar("ProgramFiles")},
      {"<CommonFilesDir>", envVar("CommonProgramFiles")},
      {"<SrcDir>", exeFolder},
      {"<WinDrive>", windows.substr(0, 3)},
      {"<WinSysDisk>", system.substr(0, 2)},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.expected.empty()) << c.macro;
    const std::string got = expand(c.macro);
    EXPECT_TRUE(SameText(c.expected, got)) << c.macro << ": " << got << " expected " << c.expected;
  }
  EXPECT_TRUE(isFile(expand("<WinDir>notepad.exe"))) << expand("<WinDir>notepad.exe");
  EXPECT_TRUE(isFile(expand("<WinSysDir>\\kernel32.dll"))) << expand("<WinSysDir>\\kernel32.dll");
  EXPECT_TRUE(SameText(windows + "\\notepad.exe", expand("<InstallDir><WinDir>\\notepad.exe")));
}

TEST(CommonWin, EveryFolderSourceAnswers) {
  const char* macros[] = {"<WinSys16Dir>",      "<FontDir>",        "<StartMenuDir>",      "<OriginDir>",
                          "<UserStartMenuDir>", "<UserDesktopDir>", "<AllUsersDir>",       "<AllUsersDocumentsDir>",
                          "<AllUsersStartMenuDir>", "<AllUsersDesktopDir>", "<DocumentsAndSettingsDir>"};
  for (const char* m : macros) {
    const std::string got = expand(m);
    EXPECT_GE(got.size(), 2u) << m;
    EXPECT_EQ(std::string::npos, got.find('<')) << m << ": " << got;
    EXPECT_NE('\\', got.back()) << m << ": " << got;
  }
}

TEST(CommonWin, OriginDirComesFromTheStubsRegistryValue) {
  SavedUserValue saved(kDynDataKey, "OriginDir");
  ASSERT_TRUE(RegWriteValue(std::string("HKEY_CURRENT_USER\\") + kDynDataKey, "OriginDir", "E:\\Origin Folder"));
  EXPECT_EQ("E:\\Origin Folder", GetOriginDir());
  EXPECT_EQ("E:\\Origin Folder\\setup.exe", expand("<OriginDir>setup.exe"));
  EXPECT_EQ("E:\\|E:", expand("<OriginDrive>|<OriginDisk>"));
  // Without the value: the folder of the running program.
  saved.erase();
  EXPECT_EQ(ExeDir(false), GetOriginDir());
  EXPECT_EQ(ExeDir(false), expand("<OriginDir>"));
}

TEST(CommonWin, FontDirIsTakenFromTheShellOnlyWhenItExists) {
  SavedUserValue saved(kShellFoldersKey, "Fonts");
  const std::string key = std::string("HKEY_CURRENT_USER\\") + kShellFoldersKey;
  const std::string elsewhere = TempDir(true) + "korvan fonts";
  CreateDirectoryA(elsewhere.c_str(), nullptr);
  ASSERT_TRUE(RegWriteValue(key, "Fonts", elsewhere));
  EXPECT_EQ(elsewhere, GetFontDir());
  ASSERT_TRUE(RegWriteValue(key, "Fonts", elsewhere + "\\missing"));
  EXPECT_EQ(WindowsDir(true) + "Fonts", GetFontDir());
  RemoveDirectoryA(elsewhere.c_str());
}

TEST(CommonWin, System16DirIsAnExistingFolder) {
  // "system32" without its "32" where that folder exists (it does not in
  // every Wine prefix), else the system folder itself.
  const std::string sixteen = SystemDir(false).substr(0, SystemDir(false).size() - 2);
  const std::string got = GetSystem16Dir();
  EXPECT_TRUE(isFolder(got)) << got;
  EXPECT_EQ(isFolder(sixteen) ? sixteen : SystemDir(false), got);
}

TEST(CommonWin, FoldingUsesTheFullPathService) {
  char cwd[MAX_PATH + 1];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  const std::string here = SetTrailingBackslash(cwd, true);
  EXPECT_EQ("C:\\a\\c", FoldRelativePath("C:\\a\\b\\..\\c"));
  EXPECT_EQ("|C:\\a\\c|C:\\d\\e|", FoldRelativePath("|C:\\a\\b\\..\\c|C:\\d\\e|"));
  EXPECT_EQ(here + "f.txt", FoldRelativePath("sub\\..\\f.txt"));
  EXPECT_EQ("C:\\a\\b", FoldRelativePath("C:\\a\\b"));
  EXPECT_TRUE(SameText(WindowsDir(true) + "notepad.exe",
                       ExpandMacros("<WinSysDir>\\..\\notepad.exe", "\\", true)));
}

TEST(CommonWin, ClockAgreesWithTheSystemsDateType) {
  // Bracketed by two readings of the system's own conversion, which drops
  // milliseconds: hence the second of slack above.
  const double before = oleDateNow();
  const int64_t now = NowSeconds();
  const double after = oleDateNow();
  EXPECT_GE(now, int64_t(std::floor(before * 86400)));
  EXPECT_LE(now, int64_t(std::floor(after * 86400)) + 1);

  const int64_t days = StrToInt64Def(DateMacroText('0'), -1);
  EXPECT_GE(days, int64_t(std::floor(before - 36526)));
  EXPECT_LE(days, int64_t(std::floor(after - 36526)));
}

TEST(CommonWin, DateTextsFollowTheLocalDate) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    SYSTEMTIME first, second;
    oleDateNow(&first);
    const std::string iso = DateMacroText('6');
    const std::string named = DateMacroText('#');
    const std::string stamp = DateMacroText('7');
    oleDateNow(&second);
    if (first.wDay != second.wDay) continue;  // midnight passed: read again
    EXPECT_EQ(localTimeText(first, "yyyy'-'MM'-'dd"), iso);
    char sep[8] = {0};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, sep, sizeof sep);
    EXPECT_EQ(localTimeText(first, "dd") + sep + localTimeText(first, "MMMM") + sep + localTimeText(first, "yyyy"),
              named);
    ASSERT_EQ(19u, stamp.size()) << stamp;
    EXPECT_EQ(iso + " ", stamp.substr(0, 11));
    EXPECT_EQ("", DateMacroText('x'));
    return;
  }
  FAIL() << "the date changed twice while reading it";
}
