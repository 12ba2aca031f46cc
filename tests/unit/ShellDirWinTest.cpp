#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "paths/ShellDir.h"
#include "util/Registry.h"
#include "util/RegistryWin.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace {

typedef std::string (*Getter)(bool);

const struct {
  const char* name;
  Getter get;
} kGetters[] = {
    {"GetProfilesFallbackDir", GetProfilesFallbackDir},
    {"GetUserDir", GetUserDir},
    {"GetDocumentsAndSettingsDir", GetDocumentsAndSettingsDir},
    {"GetAllUsersDir", GetAllUsersDir},
    {"GetUserAppDataDir", GetUserAppDataDir},
    {"GetAllUsersAppDataDir", GetAllUsersAppDataDir},
    {"GetMyDocumentsDir", GetMyDocumentsDir},
    {"GetAllUsersDocumentsDir", GetAllUsersDocumentsDir},
    {"GetUserStartMenuDir", GetUserStartMenuDir},
    {"GetAllUsersStartMenuDir", GetAllUsersStartMenuDir},
    {"GetUserDesktopDir", GetUserDesktopDir},
    {"GetAllUsersDesktopDir", GetAllUsersDesktopDir},
};

std::string envVar(const char* name) {
  char buffer[2048];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool isFolder(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void expectSameFolder(const std::string& expected, const std::string& got, const char* what) {
  EXPECT_TRUE(SameText(expected, got)) << what << ": " << got << " expected " << expected;
}

// Keeps a registry value as the test found it.
class SavedValue {
 public:
  SavedValue(const std::string& path, const char* value) : value_(value) {
    SplitRegPath(path, root_, key_);
    HKEY k;
    if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
      char buf[4096];
      DWORD size = sizeof buf;
      present_ = RegQueryValueExA(k, value, nullptr, &type_, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS;
      if (present_) data_.assign(buf, size);
      RegCloseKey(k);
    }
  }
  ~SavedValue() {
    HKEY k;
    if (RegOpenKeyExA(root_, key_.c_str(), 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    if (present_)
      RegSetValueExA(k, value_, 0, type_, reinterpret_cast<const BYTE*>(data_.data()), DWORD(data_.size()));
    else
      RegDeleteValueA(k, value_);
    RegCloseKey(k);
  }

 private:
  HKEY root_;
  std::string key_;
  const char* value_;
  bool present_ = false;
  DWORD type_ = REG_SZ;
  std::string data_;
};

class ShellDirWin : public ::testing::Test {
 protected:
  void TearDown() override { SetShellFolderLibrary("SHFolder.dll"); }
};

// The library names that leave the system without the service: one that is
// missing and one that lacks the function.
const char* const kWithoutService[] = {"KorvanNoSuchShellFolders.dll", "kernel32.dll"};

}  // namespace

TEST_F(ShellDirWin, ServiceGivesTheShellsFolders) {
  expectSameFolder(envVar("APPDATA"), ShellFolderPath(kFolderAppData), "appdata");
  expectSameFolder(envVar("ALLUSERSPROFILE"), ShellFolderPath(kFolderCommonAppData), "common appdata");
  EXPECT_TRUE(isFolder(ShellFolderPath(kFolderPersonal)));
  EXPECT_TRUE(isFolder(ShellFolderPath(kFolderCommonDocuments)));
  EXPECT_EQ("", ShellFolderPath(0x80FF));  // no such folder id: the call fails

  const std::string profile = envVar("USERPROFILE");
  expectSameFolder(profile, GetUserDir(false), "GetUserDir");
  expectSameFolder(profile.substr(0, profile.rfind('\\')), GetDocumentsAndSettingsDir(false),
                   "GetDocumentsAndSettingsDir");
  expectSameFolder(envVar("APPDATA"), GetUserAppDataDir(false), "GetUserAppDataDir");
  expectSameFolder(ShellFolderPath(kFolderPersonal), GetMyDocumentsDir(false), "GetMyDocumentsDir");
  expectSameFolder(envVar("ALLUSERSPROFILE"), GetAllUsersAppDataDir(false), "GetAllUsersAppDataDir");
  expectSameFolder(ShellFolderPath(kFolderCommonDocuments), GetAllUsersDocumentsDir(false),
                   "GetAllUsersDocumentsDir");
  // The all-users folder is the parent of the all-users application data.
  const std::string common = envVar("ALLUSERSPROFILE");
  expectSameFolder(SetTrailingBackslash(common.substr(0, common.rfind('\\') + 1), false), GetAllUsersDir(false),
                   "GetAllUsersDir");
  expectSameFolder(GetAllUsersDir(true) + "Start Menu", GetAllUsersStartMenuDir(false), "GetAllUsersStartMenuDir");
  expectSameFolder(GetAllUsersDir(true) + "Desktop", GetAllUsersDesktopDir(false), "GetAllUsersDesktopDir");
}

TEST_F(ShellDirWin, UserStartMenuAndDesktopFallBackToAllUsers) {
  // The user's own folder where it exists, the all-users one where not.
  for (const auto& c : {std::make_pair("Start Menu", GetUserStartMenuDir),
                        std::make_pair("Desktop", GetUserDesktopDir)}) {
    const std::string own = GetUserDir(true) + c.first;
    const std::string expected = isFolder(own) ? own : GetAllUsersDir(true) + c.first;
    expectSameFolder(expected, c.second(false), c.first);
  }
}

TEST_F(ShellDirWin, WithoutTheServiceEveryGetterFallsBackToTheWindowsFolder) {
  const std::string windows = WindowsDir(false);
  const std::string profiles = WindowsDir(true) + "Profiles\\" + GetRegisteredOwner();
  ASSERT_FALSE(GetRegisteredOwner().empty() ? isFolder(WindowsDir(true) + "Profiles") : isFolder(profiles))
      << "this prefix has a profile folder for the registered owner";
  for (const char* library : kWithoutService) {
    SetShellFolderLibrary(library);
    SCOPED_TRACE(library);
    EXPECT_EQ("", ShellFolderPath(kFolderAppData));
    EXPECT_EQ(windows, GetProfilesFallbackDir(false));
    EXPECT_EQ(windows, GetUserDir(false));
    EXPECT_EQ(windows, GetDocumentsAndSettingsDir(false));
    EXPECT_EQ(windows, GetAllUsersDir(false));
    EXPECT_EQ(windows + "\\Application Data", GetUserAppDataDir(false));
    EXPECT_EQ(windows + "\\Application Data", GetAllUsersAppDataDir(false));
    EXPECT_EQ(windows + "\\My Documents", GetMyDocumentsDir(false));
    EXPECT_EQ(windows + "\\Documents", GetAllUsersDocumentsDir(false));
    // Whether or not the folder exists: both branches start from Windows.
    EXPECT_EQ(windows + "\\Start Menu", GetUserStartMenuDir(false));
    EXPECT_EQ(windows + "\\Start Menu", GetAllUsersStartMenuDir(false));
    EXPECT_EQ(windows + "\\Desktop", GetUserDesktopDir(false));
    EXPECT_EQ(windows + "\\Desktop", GetAllUsersDesktopDir(false));
  }
}

TEST_F(ShellDirWin, RegisteredOwnersProfileFolderServesTheUser) {
  SavedValue owner(CurrentVersionKeyPath(), "RegisteredOwner");
  ASSERT_TRUE(RegWriteValue(CurrentVersionKeyPath(), "RegisteredOwner", "Korvan Test Owner"));
  ASSERT_EQ("Korvan Test Owner", GetRegisteredOwner());
  const std::string profiles = WindowsDir(true) + "Profiles";
  const bool hadProfiles = isFolder(profiles);
  const std::string profile = profiles + "\\Korvan Test Owner";
  const std::string startMenu = profile + "\\Start Menu";
  CreateDirectoryA(profiles.c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA(profile.c_str(), nullptr));

  SetShellFolderLibrary(kWithoutService[0]);
  EXPECT_EQ(profile, GetProfilesFallbackDir(false));
  EXPECT_EQ(profile, GetUserDir(false));
  EXPECT_EQ(profile, GetDocumentsAndSettingsDir(false));
  EXPECT_EQ(profile + "\\Application Data", GetUserAppDataDir(false));
  EXPECT_EQ(profile + "\\My Documents", GetMyDocumentsDir(false));
  // The all-users getters keep to the Windows folder.
  EXPECT_EQ(WindowsDir(false), GetAllUsersDir(false));
  EXPECT_EQ(WindowsDir(true) + "Application Data", GetAllUsersAppDataDir(false));
  // The user's start menu once it exists there.
  EXPECT_EQ(WindowsDir(true) + "Start Menu", GetUserStartMenuDir(false));
  ASSERT_TRUE(CreateDirectoryA(startMenu.c_str(), nullptr));
  EXPECT_EQ(startMenu, GetUserStartMenuDir(false));

  RemoveDirectoryA(startMenu.c_str());
  RemoveDirectoryA(profile.c_str());
  if (!hadProfiles) RemoveDirectoryA(profiles.c_str());
}

TEST_F(ShellDirWin, ExactlyOneTrailingBackslashWhenAsked) {
  for (const char* library : {"SHFolder.dll", kWithoutService[0]}) {
    SetShellFolderLibrary(library);
    for (const auto& g : kGetters) {
      SCOPED_TRACE(std::string(library) + " " + g.name);
      const std::string with = g.get(true);
      const std::string without = g.get(false);
      ASSERT_GE(with.size(), 3u) << with;
      EXPECT_EQ('\\', with.back()) << with;
      EXPECT_NE('\\', with[with.size() - 2]) << with;
      ASSERT_FALSE(without.empty());
      EXPECT_NE('\\', without.back()) << without;
      EXPECT_EQ(with, without + "\\");
    }
  }
}
