#include "paths/Common.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A machine of our own: every source answers from this table, the clock is
// fixed and the full-path service marks what it was asked to fold.
std::string g_values[kSrcCount];
std::vector<std::string> g_folded;
std::string g_fullPathAnswer;  // "" for "fold by marking", "-" for "fail"
int g_asked[kSrcCount];

const TLocalTime kMoment = {2024, 3, 5, 7, 8, 9, 0};

TDateLocale testLocale() {
  TDateLocale l;
  const char* names[12] = {"January", "February", "March",     "April",   "May",      "June",
                           "July",    "August",   "September", "October", "November", "December"};
  for (int i = 0; i < 12; ++i) l.longMonthNames[i] = names[i];
  l.dateSeparator = ".";
  l.timeSeparator = "h";
  return l;
}

std::string testValue(TMacroSource which) {
  ++g_asked[which];
  return g_values[which];
}
std::string testDate(char code) { return DateMacroTextAt(code, kMoment, testLocale()); }
std::string testFullPath(const std::string& path) {
  g_folded.push_back(path);
  if (g_fullPathAnswer == "-") return std::string();
  return "FULL[" + path + "]";
}

const TMacroSources kTestSources = {testValue, testDate, testFullPath};

class Macros : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& v : g_values) v.clear();
    for (auto& n : g_asked) n = 0;
    g_folded.clear();
    g_fullPathAnswer.clear();
    g_values[kSrcRegisteredOwner] = "Ada";
    g_values[kSrcRegisteredOrganization] = "Fellmoor";
    g_values[kSrcWindowsDir] = "C:\\WINDOWS";
    g_values[kSrcSystemDir] = "C:\\WINDOWS\\system32";
    g_values[kSrcSystem16Dir] = "C:\\WINDOWS\\system";
    g_values[kSrcProgramFilesDir] = "C:\\Program Files";
    g_values[kSrcTempDir] = "C:\\Temp";
    g_values[kSrcOriginDir] = "E:\\Origin";
    g_values[kSrcUserAppDataDir] = "C:\\Users\\ada\\AppData";
    SetInstallFolders("D:\\Apps", "D:\\Common", "D:\\Aux");
  }
  void TearDown() override { SetInstallFolders("", "", ""); }

  static std::string expand(const std::string& text, bool fold = false, const std::string& suffix = "\\") {
    return ExpandMacrosWith(text, suffix, fold, kTestSources);
  }
};

struct Case {
  const char* text;
  const char* expected;
};

void expectAll(const std::vector<Case>& cases, const std::string& suffix = "\\") {
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, ExpandMacrosWith(c.text, suffix, false, kTestSources)) << "text: " << c.text;
}

}  // namespace

TEST_F(Macros, TextWithoutAngleBracketIsUntouched) {
  expectAll({
      {"", ""},
      {"C:\\a\\\\b", "C:\\a\\\\b"},  // no clean-up either: nothing was expanded
      {"WinDir>", "WinDir>"},
  });
  for (int n : g_asked) EXPECT_EQ(0, n);
}

TEST_F(Macros, FolderRuleDecidesTheSuffix) {
  expectAll({
      {"<TempDir>", "C:\\Temp"},                             // ends the text
      {"<TempDir>file.txt", "C:\\Temp\\file.txt"},           // before a name
      {"<TempDir> /x", "C:\\Temp /x"},                       // before a blank
      {"<TempDir>\\file.txt", "C:\\Temp\\file.txt"},         // doubled, then reduced
      {"|<WinDir>|<TempDir>|", "|C:\\WINDOWS|C:\\Temp|"},    // closes list items
      {",<WinDir>,x,", ",C:\\WINDOWS,x,"},
      {"|<WinDir>|x", "|C:\\WINDOWS\\|x"},                   // not a list: last character differs
      {"a<WinDir>a", "aC:\\WINDOWS\\a"},                     // a letter is no delimiter
      {"<WinDir><TempDir>", "C:\\WINDOWS\\C:\\Temp"},        // "<" is no delimiter
      {"<<WinDir><", "<C:\\WINDOWS\\<"},
      {"<TempDir> and <TempDir>x", "C:\\Temp and C:\\Tempx"},  // decided once, on the first
      {"<windir>\\a|<WINDIR>b", "C:\\WINDOWS\\a|C:\\WINDOWS\\b"},
      {"<Windows Directory>x", "C:\\WINDOWS\\x"},
      {"<System Directory>", "C:\\WINDOWS\\system32"},
      {"<WinSys32Dir>\\k.dll", "C:\\WINDOWS\\system32\\k.dll"},
      {"<WinSys16Dir>", "C:\\WINDOWS\\system"},
  });
}

TEST_F(Macros, SuffixIsTheCallersText) {
  expectAll({{"<WinDir>x", "C:\\WINDOWSx"}, {"<WinDir>", "C:\\WINDOWS"}}, "");
  expectAll({{"<WinDir>x", "C:\\WINDOWS/x"}, {"<WinDir>", "C:\\WINDOWS"}}, "/");
}

TEST_F(Macros, EmptyValuesVanishWithTheirSuffix) {
  expectAll({
      {"<CommonFilesDir>x.dll", "x.dll"},
      {"<RunTimeDir_1><RunTimeDir_2><RunTimeDir_3>a", "a"},
      {"<ProjectName><ProgramVersion><EnteredUserName><EnteredCompanyName>b", "b"},
      {"<VendorCompanyName><ProgramDescriptiveName>", ""},
      {"<RunTimeDir_1><TempDir>x", "C:\\Temp\\x"},
  });
}

TEST_F(Macros, NamesComeFromTheRegisteredOwner) {
  expectAll({
      {"<UserName>, <companyname>", "Ada, Fellmoor"},
      // Only names changed: no folder was expanded, so no clean-up.
      {"<UserName>\\\\x", "Ada\\\\x"},
  });
}

TEST_F(Macros, InstallDirMarker) {
  expectAll({
      {"<InstallDir>app.exe", "D:\\Apps\\app.exe"},
      {"<InstallDir>", "D:\\Apps"},
      {"<InstallCommonDir>c.dll|<InstallAuxDir>", "D:\\Common\\c.dll|D:\\Aux"},
      {"<Application Folder>x|<Common Folder>y|<Auxiliary Folder>", "D:\\Apps\\x|D:\\Common\\y|D:\\Aux"},
      // Dropped in front of an absolute folder.
      {"<InstallDir><Windows Directory>\\notepad.exe", "C:\\WINDOWS\\notepad.exe"},
      {"<InstallDir><WinDir>\\notepad.exe", "C:\\WINDOWS\\notepad.exe"},
      {"<InstallDir><ProgramFilesDir>p\\p.exe", "C:\\Program Files\\p\\p.exe"},
      {"<installdir><InstallAuxDir>a.exe", "D:\\Aux\\a.exe"},
      {"<InstallDir><InstallDir>a.exe", "D:\\Apps\\D:\\Apps\\a.exe"},  // itself is not absolute
      // Any step-one folder in the text drops every marker.
      {"<InstallDir>a.exe|<System Directory>|", "a.exe|C:\\WINDOWS\\system32\\|"},
      {"<AbsoluteDir>C:\\x.exe", "C:\\x.exe"},
      {"<ABSOLUTEDIR><TempDir>x", "C:\\Temp\\x"},
      {"<InstallDir><AbsoluteDir>x", "D:\\Apps\\x"},
  });
}

TEST_F(Macros, AbsoluteMarkerBroughtInByAnInstallFolderGoes) {
  SetInstallFolders("<AbsoluteDir>D:\\Apps", "", "");
  EXPECT_EQ("D:\\Apps\\x", expand("<InstallDir>x"));
}

TEST_F(Macros, DrivesAndDisks) {
  g_values[kSrcOriginDir] = "\\\\srv\\share";
  expectAll({
      {"<InstallDrive>", "D:\\"},
      {"<InstallDisk>", "D:"},
      {"<InstallDrive>setup.exe", "D:\\setup.exe"},  // no suffix of its own
      {"<InstallDisk>\\setup.exe", "D:\\setup.exe"},
      {"<WinDrive>|<WinSysDrive>|<WinDisk>|<WinSysDisk>", "C:\\|C:\\|C:|C:"},
      {"<OriginDrive>", "\\\\s"},
      {"<OriginDisk>", "\\\\"},
  });
  SetInstallFolders("", "", "");
  expectAll({{"<InstallDrive>", ""}, {"<InstallDisk>x", "x"}});
  SetInstallFolders("D", "", "");
  expectAll({{"<InstallDrive>", "D"}, {"<InstallDisk>", "D"}});
}

TEST_F(Macros, DoubledBackslashesReducedExceptAtTheStart) {
  g_values[kSrcOriginDir] = "\\\\srv\\share";
  expectAll({
      {"<OriginDir>\\\\setup.exe", "\\\\srv\\share\\setup.exe"},
      {"\\\\<TempDir>\\\\\\a", "\\\\C:\\Temp\\a"},
      {"<WinDir>\\\\\\\\a\\\\b\\\\", "C:\\WINDOWS\\a\\b\\"},
  });
}

TEST_F(Macros, DateMacro) {
  expectAll({
      {"<Date=6>", "2024-03-05"},
      {"log_<date=6>.txt", "log_2024-03-05.txt"},
      {"<Date=#>", "05.March.2024"},
      {"<Date=0>", "8830"},
      {"<Date=1>|<Date=2>", "05-03-24|<Date=2>"},  // only the first
      {"<Date=8>", "<Date=8>"},
      {"<Date=8> <Date=6>", "<Date=8> <Date=6>"},  // the first decides
      {"<Date=6", "<Date=6"},
      {"> <Date=6", "> <Date=6"},
      {"<Date=", "<Date="},
      {"<Date=>", "<Date=>"},
      {"<Date=6x> ", "2024-03-05> "},  // the character after the code goes, whatever it is
      {"<TempDir><Date=6>.log", "C:\\Temp\\2024-03-05.log"},
  });
}

TEST_F(Macros, UnknownAndUnclosedBracketsStay) {
  expectAll({
      {"a < b", "a < b"},
      {"<Nothing>\\x", "<Nothing>\\x"},
      {"<TempDir", "<TempDir"},
      {"<WinDir>\\<x", "C:\\WINDOWS\\<x"},
  });
}

TEST_F(Macros, ValuesHoldingMacros) {
  // A later macro inside a value is expanded by its own step...
  g_values[kSrcProgramFilesDir] = "<TempDir>\\PF";
  g_values[kSrcRegisteredOwner] = "<WinDir>";
  SetInstallFolders("<UserAppDataDir>\\App", "", "");
  // ...an earlier one stays as inserted.
  g_values[kSrcTempDir] = "<WinDir>\\tmp";
  g_values[kSrcUserAppDataDir] = "<InstallDir>x<Date=6>";
  expectAll({
      {"<ProgramFilesDir>", "<WinDir>\\tmp\\PF"},
      {"<UserName>", "C:\\WINDOWS"},
      {"<InstallDir>a.exe", "<InstallDir>x<Date=6>\\App\\a.exe"},
  });
}

TEST_F(Macros, ValuesAreAskedAfreshEachTime) {
  EXPECT_EQ("C:\\Temp\\a", expand("<TempDir>a"));
  g_values[kSrcTempDir] = "F:\\T";
  EXPECT_EQ("F:\\T\\a", expand("<TempDir>a"));
  SetInstallFolders("G:\\New", "", "");
  EXPECT_EQ("G:\\New\\a", expand("<InstallDir>a"));
}

TEST_F(Macros, FoldingOfSinglePathsAndLists) {
  EXPECT_EQ("FULL[C:\\a\\b\\..\\c]", expand("C:\\a\\b\\..\\c", true));
  EXPECT_EQ("FULL[..\\x]", expand("..\\x", true));
  EXPECT_EQ("|FULL[C:\\a\\..\\b]|C:\\c|", expand("|C:\\a\\..\\b|C:\\c|", true));
  EXPECT_EQ(",x,FULL[y\\..],", expand(",x,y\\..,", true));
  // Not a list: the whole text is one path.
  EXPECT_EQ("FULL[|C:\\a\\..\\b]", expand("|C:\\a\\..\\b", true));
  // Folding follows expansion.
  EXPECT_EQ("FULL[C:\\WINDOWS\\..\\x]", expand("<WinDir>..\\x", true));
  EXPECT_EQ(std::vector<std::string>({"C:\\a\\b\\..\\c", "..\\x", "C:\\a\\..\\b", "y\\..", "|C:\\a\\..\\b",
                                      "C:\\WINDOWS\\..\\x"}),
            g_folded);

  g_folded.clear();
  EXPECT_EQ("C:\\a..b\\c", expand("C:\\a..b\\c", true));
  EXPECT_EQ("C:\\WINDOWS\\..", expand("<WinDir>\\..", false));
  EXPECT_TRUE(g_folded.empty());
}

TEST_F(Macros, PathTheSystemCannotFoldStays) {
  g_fullPathAnswer = "-";
  EXPECT_EQ("C:\\a\\..\\b", FoldRelativePathWith("C:\\a\\..\\b", kTestSources));
  EXPECT_EQ("|C:\\a\\..\\b|", FoldRelativePathWith("|C:\\a\\..\\b|", kTestSources));
}

TEST(InstallFolders, StoredAsGivenAndLastCallWins) {
  SetInstallFolders("C:\\A\\", "B", "");
  SetInstallFolders("D:\\Apps\\", "D:\\Common", "D:\\Aux\\\\");
  EXPECT_EQ("D:\\Apps\\", ApplicationFolder());
  EXPECT_EQ("D:\\Common", CommonFolder());
  EXPECT_EQ("D:\\Aux\\\\", AuxiliaryFolder());
  SetInstallFolders("", "", "");
}

// ---- Date arithmetic ----------------------------------------------------------

TEST(DayNumberOf, CountsFromTheThirtiethOfDecember1899) {
  const struct {
    int y, m, d;
    int64_t days;
  } cases[] = {
      {1899, 12, 30, 0},     {1899, 12, 29, -1},    {1900, 1, 1, 2},       {1900, 3, 1, 61},
      {1970, 1, 1, 25569},   {2000, 1, 1, 36526},   {2024, 2, 29, 45351},  {2024, 3, 5, 45356},
      {1600, 3, 1, -109511}, {2100, 3, 1, 73110},
  };
  for (const auto& c : cases) EXPECT_EQ(c.days, DayNumberOf(c.y, c.m, c.d)) << c.y << "-" << c.m << "-" << c.d;
}

TEST(NowSecondsAt, RoundsToTheNearestSecondHalvesToEven) {
  const int64_t base = int64_t(36526) * 86400;
  const struct {
    int second, ms;
    int64_t expected;
  } cases[] = {
      {0, 0, base},       {0, 499, base},     {0, 500, base},     {0, 501, base + 1},
      {1, 500, base + 2}, {2, 500, base + 2}, {59, 999, base + 60},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, NowSecondsAt(TLocalTime{2000, 1, 1, 0, 0, c.second, c.ms})) << c.second << "." << c.ms;
  EXPECT_EQ(base + 86399, NowSecondsAt(TLocalTime{2000, 1, 1, 23, 59, 59, 0}));
  EXPECT_EQ(int64_t(45356) * 86400 + 7 * 3600 + 8 * 60 + 9, NowSecondsAt(kMoment));
}

TEST(DaysFrom2000, WholeDaysEitherWayRound) {
  EXPECT_EQ(0, DaysFrom2000(TLocalTime{2000, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(0, DaysFrom2000(TLocalTime{2000, 1, 1, 23, 59, 59, 999}));
  EXPECT_EQ(1, DaysFrom2000(TLocalTime{2000, 1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(0, DaysFrom2000(TLocalTime{1999, 12, 31, 0, 0, 0, 1}));
  EXPECT_EQ(1, DaysFrom2000(TLocalTime{1999, 12, 31, 0, 0, 0, 0}));
  EXPECT_EQ(366, DaysFrom2000(TLocalTime{2001, 1, 1, 12, 0, 0, 0}));  // 2000 was a leap year
}

TEST(DateMacroTextAt, EveryCode) {
  const TDateLocale locale = testLocale();
  const Case cases[] = {
      {"#", "05.March.2024"},    {"0", "8830"},       {"1", "05-03-24"},
      {"2", "03-05-24"},         {"3", "24-03-05"},   {"4", "05-03-2024"},
      {"5", "03-05-2024"},       {"6", "2024-03-05"}, {"7", "2024-03-05 07h08h09"},
      {"8", ""},                 {"x", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, DateMacroTextAt(c.text[0], kMoment, locale)) << c.text;
  const TLocalTime dec = {2005, 12, 31, 23, 0, 0, 0};
  EXPECT_EQ("31.December.2005", DateMacroTextAt('#', dec, locale));
  EXPECT_EQ("31-12-05", DateMacroTextAt('1', dec, locale));
}
