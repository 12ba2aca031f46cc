#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paths/Files.h"
#include "settings/GlobalWin.h"
#include "util/UtilsWin.h"

namespace {

const char kAllUnset[] = "|255|255|255|255|255|255|";

bool FolderExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names in Folder, to see that a probe left nothing behind.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

// Settings files of their own in a fresh folder per test: the profile
// functions may cache a file by name.
class GlobalSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = TempDir(true) + "KorvanGlobalTest" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
    DeleteTree(dir_, true);
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    original_ = dir_ + "\\prod.original";
    info_ = dir_ + "\\prod.info";
    SetSettingsFiles(original_, info_);
    ApplyOverrideText(kAllUnset);
  }
  void TearDown() override {
    SetSettingsFiles("", "");
    ApplyOverrideText(kAllUnset);
    DeleteTree(dir_, true);
  }
  static void Write(const std::string& path, const std::string& text) { ASSERT_TRUE(WriteFileText(path, text)); }
  // What the file holds, read past this unit.
  std::string Raw(const char* section, const char* key) const {
    char buffer[256];
    GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof(buffer), original_.c_str());
    return buffer;
  }

  std::string dir_, original_, info_;
};

}  // namespace

TEST_F(GlobalSettings, MissingFilesGiveDefaults) {
  EXPECT_EQ(0, ProbeSecondsInterval());
  EXPECT_EQ(0, ReAskSecondsLast());
  EXPECT_EQ(0, VersionOriginal());
  EXPECT_EQ(0, OriginalStamp());
  EXPECT_EQ("", OriginalProgramName());
  EXPECT_EQ("", TargetDir());
  EXPECT_EQ("|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|", MsgBoxBtnText());
  EXPECT_EQ("Error", MsgBoxError());
  EXPECT_EQ("Confirm", MsgBoxConfirm());
  EXPECT_EQ("Attention", MsgBoxAttention());
  EXPECT_EQ(0, MsgBoxCharSet());
  EXPECT_EQ("File not Found!", AgentText("s4", "File not Found!"));
  EXPECT_EQ("", DownloadURL_UPDATE());
  EXPECT_EQ(0, SizeOfUpdateFile());
  EXPECT_EQ(0, VersionNew());
  EXPECT_FALSE(RequestConfirmationBeforeDownload());
  EXPECT_FALSE(RemoveStartUpShortcut());
}

TEST_F(GlobalSettings, UnsetFileNamesNeverReachTheWindowsFolder) {
  SetSettingsFiles("", "");
  EXPECT_FALSE(SetProbeSecondsLast(5));
  EXPECT_EQ(0, ProbeSecondsLast());
  EXPECT_EQ("d", AgentText("s2", "d"));
  EXPECT_FALSE(PathExists(WindowsDir(true) + ".ini"));
}

TEST_F(GlobalSettings, ReadsTheInstallationFile) {
  Write(original_,
        "[OriginalSetup]\r\nProbeSecondsInterval=-1\r\nProbeSecondsLast=3900000000\r\n"
        "ReAskSecondsInterval=86400\r\nReAskSecondsLast=-7\r\nVersionOriginal=12\r\nStamp=4294967297\r\n"
        "ProgramName=Korvan Demo\r\n"
        "[Directories]\r\nTargetDir=C:\\Prod\r\nSharedDir=C:\\Shared\r\nAuxiliaryDir=C:\\Aux\r\n"
        "[UnInstall]\r\nStartUpLink=C:\\s.lnk\r\nCheckforNewUpdateLink=C:\\c.lnk\r\n"
        "[MsgBox]\r\nBtnText=|OK|Annuler|\r\nError=Erreur\r\nConfirm=Question\r\nAttention=Note\r\nCharSet=178\r\n"
        "[AutoUpdate]\r\ns21=Nothing new for PROG_NAME\r\n");
  EXPECT_EQ(-1, ProbeSecondsInterval());  // signed, not 2^64-1
  EXPECT_EQ(3900000000LL, ProbeSecondsLast());
  EXPECT_EQ(86400, ReAskSecondsInterval());
  EXPECT_EQ(-7, ReAskSecondsLast());
  EXPECT_EQ(12, VersionOriginal());
  EXPECT_EQ(1, OriginalStamp());  // a 32-bit key keeps the low 32 bits
  EXPECT_EQ("Korvan Demo", OriginalProgramName());
  EXPECT_EQ("C:\\Prod", TargetDir());
  EXPECT_EQ("C:\\Shared", SharedDir());
  EXPECT_EQ("C:\\Aux", AuxiliaryDir());
  EXPECT_EQ("C:\\s.lnk", StartUpLink());
  EXPECT_EQ("C:\\c.lnk", CheckforNewUpdateLink());
  EXPECT_EQ("|OK|Annuler|", MsgBoxBtnText());
  EXPECT_EQ("Erreur", MsgBoxError());
  EXPECT_EQ("Question", MsgBoxConfirm());
  EXPECT_EQ("Note", MsgBoxAttention());
  EXPECT_EQ(178, MsgBoxCharSet());
  EXPECT_EQ("Nothing new for PROG_NAME", AgentText("s21", ""));
  EXPECT_EQ("x", AgentText("s22", "x"));
  // The information file's keys of the same names are another file's.
  EXPECT_EQ("", UpdateProgramName());
  EXPECT_EQ(0, UpdateStamp());
}

TEST_F(GlobalSettings, NumbersThatAreNoNumbersGiveDefaults) {
  Write(original_, "[OriginalSetup]\r\nProbeSecondsInterval=abc\r\nProbeSecondsLast=12x\r\n"
                   "VersionOriginal=99999999999999999999\r\n");
  EXPECT_EQ(0, ProbeSecondsInterval());
  EXPECT_EQ(0, ProbeSecondsLast());
  EXPECT_EQ(0, VersionOriginal());
}

TEST_F(GlobalSettings, ReadsTheInformationFile) {
  Write(info_,
        "[NewSetup]\r\nDownloadURL_UPDATE=http://example.test/upd\r\nNameOfUpdateFile=upd.exe\r\n"
        "SizeOfUpdateFile=3000000000\r\nShutDownMethod=Using WM_CLOSE\r\nRunningProcess=<TargetDir>\\prod.exe\r\n"
        "ProgramName=Demo\r\nVersionNew=13\r\nStamp=-2\r\nValidVersions=3,4,12\r\n"
        "RemoveStartUpShortcut=1\r\nRemoveCheckForNewUpdateShortcut=yes\r\n"
        "RequestConfirmationBeforeDownload=yes\r\nRequestConfirmationBeforeInstall=2\r\n"
        "BackgroundUpdate=1\r\nInformFinish=TRUE\r\nRestartProcess=\r\n");
  EXPECT_EQ("http://example.test/upd", DownloadURL_UPDATE());
  EXPECT_EQ("upd.exe", NameOfUpdateFile());
  EXPECT_EQ(3000000000LL, SizeOfUpdateFile());
  EXPECT_EQ("Using WM_CLOSE", ShutDownMethod());
  EXPECT_EQ("<TargetDir>\\prod.exe", RunningProcess());
  EXPECT_EQ("Demo", UpdateProgramName());
  EXPECT_EQ(13, VersionNew());
  EXPECT_EQ(-2, UpdateStamp());
  EXPECT_EQ("3,4,12", ValidVersions());
  EXPECT_TRUE(RemoveStartUpShortcut());
  EXPECT_FALSE(RemoveCheckForNewUpdateShortcut());
  EXPECT_FALSE(RequestConfirmationBeforeDownload());  // "yes"
  EXPECT_FALSE(RequestConfirmationBeforeInstall());   // "2"
  EXPECT_TRUE(BackgroundUpdate());
  EXPECT_FALSE(InformFinish());
  EXPECT_FALSE(RestartProcess());
  EXPECT_EQ(0, VersionOriginal());  // the installation file is another file
}

TEST_F(GlobalSettings, EachOverrideMasksItsOwnKey) {
  Write(info_,
        "[NewSetup]\r\nRequestConfirmationBeforeDownload=1\r\nRequestConfirmationBeforeInstall=1\r\n"
        "BackgroundUpdate=1\r\nInformFinish=1\r\nRestartProcess=1\r\n");
  bool (*const flags[])() = {RequestConfirmationBeforeDownload, RequestConfirmationBeforeInstall,
                             BackgroundUpdate, InformFinish, RestartProcess};
  for (int n = 2; n <= 6; ++n) {
    ApplyOverrideText(kAllUnset);
    SetOverride(n, 0);
    for (int k = 2; k <= 6; ++k) EXPECT_EQ(k != n, flags[k - 2]()) << "override " << n << ", flag " << k;
  }
  // And 1 turns a flag on that the file leaves off.
  Write(info_, "[NewSetup]\r\nInformFinish=0\r\n");
  ApplyOverrideText("|255|255|255|255|1|255|");
  EXPECT_TRUE(InformFinish());
  EXPECT_FALSE(RestartProcess());
}

TEST_F(GlobalSettings, WritesRoundTrip) {
  Write(original_, "[OriginalSetup]\r\nProgramName=Kept\r\n");
  static const struct {
    bool (*write)(int64_t);
    int64_t (*read)();
    const char* key;
  } kSeconds[] = {
      {SetProbeSecondsInterval, ProbeSecondsInterval, "ProbeSecondsInterval"},
      {SetProbeSecondsLast, ProbeSecondsLast, "ProbeSecondsLast"},
      {SetReAskSecondsInterval, ReAskSecondsInterval, "ReAskSecondsInterval"},
      {SetReAskSecondsLast, ReAskSecondsLast, "ReAskSecondsLast"},
  };
  // Each key lands where its reader looks...
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(kSeconds[i].write(11 * (i + 1))) << kSeconds[i].key;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(11 * (i + 1), kSeconds[i].read()) << kSeconds[i].key;
  // ...and keeps every signed 64-bit value.
  for (const int64_t value : {int64_t(-1), int64_t(0), int64_t(3900000000LL), INT64_MAX, INT64_MIN}) {
    for (const auto& k : kSeconds) {
      ASSERT_TRUE(k.write(value)) << k.key;
      EXPECT_EQ(value, k.read()) << k.key << " " << value;
    }
  }
  ASSERT_TRUE(SetProbeSecondsInterval(-1));
  EXPECT_EQ("-1", Raw("OriginalSetup", "ProbeSecondsInterval"));
  ASSERT_TRUE(SetVersionOriginal(-5));
  ASSERT_TRUE(SetOriginalStamp(INT32_MIN));
  EXPECT_EQ("-5", Raw("OriginalSetup", "VersionOriginal"));  // sign-extended, not 4294967291
  EXPECT_EQ("-2147483648", Raw("OriginalSetup", "Stamp"));
  EXPECT_EQ(-5, VersionOriginal());
  EXPECT_EQ(INT32_MIN, OriginalStamp());
  EXPECT_EQ("Kept", OriginalProgramName());
  // Writes go to the installation file only.
  EXPECT_FALSE(PathExists(info_));
}

TEST_F(GlobalSettings, WriteToAFolderThatIsNotThereFails) {
  SetSettingsFiles(dir_ + "\\missing\\prod.original", info_);
  EXPECT_FALSE(SetVersionOriginal(3));
  EXPECT_EQ(0, VersionOriginal());
}

// ---- Folders ---------------------------------------------------------------------

TEST_F(GlobalSettings, FileDosDateTimeAndFolders) {
  // 14 March 2009 10:20:30 (DOS times keep even seconds).
  const uint32_t dos = (uint32_t(((2009 - 1980) << 9) | (3 << 5) | 14) << 16) | ((10 << 11) | (20 << 5) | 15);
  ASSERT_TRUE(WriteFileText(dir_ + "\\dated.bin", "x", dos));
  EXPECT_EQ(dos, FileDosDateTime(dir_ + "\\dated.bin"));
  EXPECT_EQ(0u, FileDosDateTime(dir_ + "\\none.bin"));

  EXPECT_TRUE(CreateFolderWithParents(dir_ + "\\a\\b\\c\\"));
  EXPECT_TRUE(FolderExists(dir_ + "\\a\\b\\c"));
  EXPECT_TRUE(CreateFolderWithParents(dir_ + "\\a\\b"));  // there already
  EXPECT_FALSE(CreateFolderWithParents(dir_ + "\\dated.bin\\x"));
  EXPECT_FALSE(CreateFolderWithParents(""));
}

TEST(GlobalFolders, WorkingFolderUnderTempNamedAfterTheProgramFile) {
  const std::string expected =
      TempDir(true) + "SETUP_" + std::to_string(FileDosDateTime(ExePath()) & 0xFFFF);
  ASSERT_NE(0u, FileDosDateTime(ExePath()));
  EXPECT_EQ(expected, WorkingFolder());
  EXPECT_TRUE(FolderExists(expected));
  // A finished flow deletes it; the next one gets it back under the same name.
  ASSERT_TRUE(DeleteTree(expected, false));
  EXPECT_EQ(expected, WorkingFolder());
  EXPECT_TRUE(FolderExists(expected));
  DeleteTree(expected, false);
}

TEST(GlobalFolders, ProbeLeavesDriveCAsItFound) {
  const std::string temp = "C:\\TEMP";
  if (FolderExists(temp)) GTEST_SKIP() << "C:\\TEMP belongs to someone else here";
  if (PathExists(temp)) GTEST_SKIP() << "C:\\TEMP is a file here";
  ASSERT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("C:\\"));

  // No C:\TEMP: the probe makes it, measures, and removes it.
  EXPECT_GT(ProbeDriveFreeBytes('C'), 0);
  EXPECT_FALSE(PathExists(temp));

  // An existing C:\TEMP is measured from a folder of its own inside and kept.
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  ASSERT_TRUE(WriteFileText(temp + "\\keep.txt", "mine"));
  EXPECT_GT(ProbeDriveFreeBytes('C'), 0);
  EXPECT_EQ("mine", ReadFileRange(temp + "\\keep.txt", 0, 0));
  EXPECT_EQ(3u, Entries(temp).size());  // ".", ".." and keep.txt
  DeleteTree(temp, true);

  // A file named C:\TEMP is no folder to probe in, and it stays.
  ASSERT_TRUE(WriteFileText(temp, "file"));
  EXPECT_EQ(-1, ProbeDriveFreeBytes('C'));
  EXPECT_EQ("file", ReadFileRange(temp, 0, 0));
  DeleteFileA(temp.c_str());
}

TEST(GlobalFolders, ProbeSkipsDrivesThatAreNotFixed) {
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_NO_ROOT_DIR) {
      EXPECT_EQ(-1, ProbeDriveFreeBytes(letter)) << root;
      return;
    }
  }
  GTEST_SKIP() << "every drive letter from Q to Y is in use";
}

// One choice per process: this is the only test that makes it.
TEST(GlobalFolders, ChooseTempDriveOnOneFixedDrive) {
  const std::string tempDir = TempDir(false);
  ASSERT_FALSE(tempDir.empty());
  const bool cTempBefore = PathExists("C:\\TEMP");
  const std::vector<std::string> cTempEntries = Entries("C:\\TEMP");
  bool otherFixed = false;
  for (const char* root : {"D:\\", "E:\\"}) otherFixed |= GetDriveTypeA(root) == DRIVE_FIXED;
  const bool onC = tempDir[0] == 'C' || tempDir[0] == 'c';

  const bool chosen = ChooseTempDrive();
  EXPECT_EQ(cTempBefore, PathExists("C:\\TEMP"));
  EXPECT_EQ(cTempEntries, Entries("C:\\TEMP"));
  if (otherFixed || !onC) GTEST_SKIP() << "more than C: to choose from";

  // Only C:, which holds the temporary folder: there is nowhere else to go.
  EXPECT_FALSE(chosen);
  EXPECT_EQ(chosen, ChooseTempDrive());  // kept, not probed again
  EXPECT_EQ("", AlternateWorkingFolder());
  RemoveAlternateWorkingFolder();  // nothing was made: nothing happens
  EXPECT_EQ(cTempBefore, PathExists("C:\\TEMP"));
}

// ---- Window helpers ---------------------------------------------------------------

TEST(GlobalWindow, StatusTextStylesFollowTheCharset) {
  HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 440, 110, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, parent);
  HWND label = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 70, 20, 340, 18, parent, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, label);
  char text[64];

  static const struct {
    int charset;
    bool rightToLeft;
  } kCases[] = {{178, true}, {0, false}, {177, true}, {186, false}, {1, false}, {178, true}};
  for (const auto& c : kCases) {
    const std::string wanted = "Extracting " + std::to_string(c.charset);
    SetStatusText(label, wanted, c.charset);
    const LONG_PTR style = GetWindowLongPtrA(label, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrA(label, GWL_EXSTYLE);
    EXPECT_EQ(LONG_PTR(WS_CHILD | WS_VISIBLE | (c.rightToLeft ? SS_RIGHT : 0)), style) << c.charset;
    EXPECT_EQ(c.rightToLeft, (exStyle & WS_EX_RTLREADING) != 0) << c.charset;
    GetWindowTextA(label, text, sizeof(text));
    EXPECT_EQ(wanted, text) << c.charset;
  }
  SetStatusText(nullptr, "nobody", 178);  // no control yet: nothing to do
  DestroyWindow(parent);
}

TEST(GlobalWindow, SystemColorOf) {
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), SystemColorOf(kColorBtnFace));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), SystemColorOf(static_cast<int32_t>(0x80000005)));
  EXPECT_EQ(COLORREF(0x00123456), SystemColorOf(0x00123456));
  EXPECT_EQ(COLORREF(0), SystemColorOf(0));
}
