#include "util/Utils.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

// ---- Lists -------------------------------------------------------------------

TEST(ListTokenCount, CountsOnlyWellFormedLists) {
  EXPECT_EQ(2, ListTokenCount("|a|b|"));
  EXPECT_EQ(0, ListTokenCount("|a|b"));
  EXPECT_EQ(0, ListTokenCount("|"));
  EXPECT_EQ(0, ListTokenCount(""));
  EXPECT_EQ(7, ListTokenCount("|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"));
  EXPECT_EQ(3, ListTokenCount(",,x,,"));  // empty tokens count
}

TEST(ListGetToken, EmptyAndMissingTokensGiveDefault) {
  const std::string list = "|a||c|";
  EXPECT_EQ("a", ListGetToken(list, 0, "x"));
  EXPECT_EQ("x", ListGetToken(list, 1, "x"));
  EXPECT_EQ("c", ListGetToken(list, 2, "x"));
  EXPECT_EQ("x", ListGetToken(list, 3, "x"));
  EXPECT_EQ("x", ListGetToken(list, -1, "x"));
  EXPECT_EQ("x", ListGetToken("", 0, "x"));
  EXPECT_EQ("", ListGetToken(list, 1));
}

TEST(ListGetToken, UnclosedTrailingTextIsNoToken) {
  EXPECT_EQ("a", ListGetToken("|a|b", 0, "x"));
  EXPECT_EQ("x", ListGetToken("|a|b", 1, "x"));
}

TEST(ListGetToken, AnyCharacterDelimits) {
  EXPECT_EQ("two words", ListGetToken(",one,two words,", 1));
  EXPECT_EQ("b|c", ListGetToken("#a#b|c#", 1));
  // A blank as delimiter keeps tokens free of blanks.
  EXPECT_EQ("y", ListGetToken(" x y ", 1));
}

TEST(ListSetToken, Rebuilds) {
  struct Case {
    std::string list;
    int index;
    std::string value;
    std::string expected;
  } cases[] = {
      {"", 2, "v", "|||v|"},
      {"|a|b|c|", 1, "X", "|a|X|c|"},
      {"|a|b|", 3, "d", "|a|b||d|"},
      {",a,b,", 0, "", ",,b,"},
      {"|a|b|", -1, "z", "|a|b|"},
      // A list missing its final delimiter keeps its closed tokens.
      {"|a|b", 2, "c", "|a||c|"},
  };
  for (auto& c : cases) {
    std::string list = c.list;
    ListSetToken(list, c.index, c.value);
    EXPECT_EQ(c.expected, list) << "list '" << c.list << "' index " << c.index;
  }
}

TEST(ListSetToken, RoundTripsThroughGetToken) {
  std::string list;
  for (int i = 5; i >= 0; --i) ListSetToken(list, i, IntToStr(i * 11));
  EXPECT_EQ(6, ListTokenCount(list));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(IntToStr(i * 11), ListGetToken(list, i));
}

TEST(ListGetValue, BlanksAroundKeyAreIgnoredValuesAreNot) {
  const std::string list = "| Name =Fred|Age=3|";
  EXPECT_EQ("Fred", ListGetValue(list, "name", "?"));
  EXPECT_EQ("Fred", ListGetValue(list, "name=", "?"));
  EXPECT_EQ("3", ListGetValue(list, "AGE", "?"));
  EXPECT_EQ("?", ListGetValue(list, "Size", "?"));
  EXPECT_EQ(" Fred ", ListGetValue("|Name= Fred |", "Name", "?"));
}

TEST(ListGetValue, EdgeShapes) {
  // Present but empty is not missing.
  EXPECT_EQ("", ListGetValue("|a=|b=2|", "a", "?"));
  // A key only matches a whole token start, not the tail of another key.
  EXPECT_EQ("2", ListGetValue("|xname=1|name=2|", "name", "?"));
  // Malformed or too short lists give the default.
  EXPECT_EQ("?", ListGetValue("|a=1", "a", "?"));
  EXPECT_EQ("?", ListGetValue("||", "a", "?"));
  // Other delimiters work the same way.
  EXPECT_EQ("C:\\x", ListGetValue(";dir=C:\\x;n=1;", "dir", "?"));
}

// ---- Search ------------------------------------------------------------------

TEST(Search, PositionsAreOneBasedZeroForNone) {
  EXPECT_EQ(3, PosText("LL", "hello"));
  EXPECT_EQ(0, PosText("", "hello"));
  EXPECT_EQ(0, PosText("x", ""));
  // Only ASCII letters fold: 0xE9 and 0xC9 stay different.
  EXPECT_EQ(0, PosText("\xC9", "caf\xE9"));
  // Folding by clearing bit 5 would make '{' match '['.
  EXPECT_EQ(0, PosText("[", "{"));

  EXPECT_EQ(4, PosFrom("ab", "abxab", 2));
  EXPECT_EQ(1, PosFrom("ab", "abxab", 1));
  EXPECT_EQ(0, PosFrom("AB", "abxab", 1));
  EXPECT_EQ(0, PosFrom("ab", "abxab", 0));
  EXPECT_EQ(0, PosFrom("ab", "abxab", 6));
  EXPECT_EQ(0, PosFrom("ab", "abxab", -5));
  EXPECT_EQ(5, PosFrom("b", "abxab", 5));
  EXPECT_EQ(4, PosFromText("AB", "abxab", 2));

  EXPECT_EQ(4, LastPos("ab", "abxab"));
  EXPECT_EQ(0, LastPos("AB", "abxab"));
  EXPECT_EQ(16, LastPos("32", "C:\\WIN32\\SYSTEM32"));
  EXPECT_EQ(7, LastPos("32", "C:\\WIN32"));
  EXPECT_EQ(0, LastPos("", "abc"));
  EXPECT_EQ(0, LastPos("abcd", "abc"));

  EXPECT_EQ(1, LastPosFromEndText(".EXE", "setup.exe"));
  EXPECT_EQ(3, LastPosFromEndText("ab", "xabyz"));
  EXPECT_EQ(5, LastPosFromEndText(".exe", "setup.exe.txt"));
  EXPECT_EQ(0, LastPosFromEndText("q", "abc"));
}

TEST(Compare, TrimAndCase) {
  EXPECT_EQ("a b", Trim("\t\r\n a b \x01\x20"));
  EXPECT_EQ("\xA0x\xA0", Trim(" \xA0x\xA0 "));  // code 160 is not trimmed
  EXPECT_EQ("", Trim(" \t "));
  EXPECT_EQ("ABC\xE9[", UpperCaseAscii("abC\xE9["));
  EXPECT_TRUE(SameText("Setup.EXE", "setup.exe"));
  EXPECT_FALSE(SameText(" a", "a"));
  EXPECT_FALSE(SameText("\xE9", "\xC9"));
  EXPECT_TRUE(SameTrimmedText("  X_Agent.exe\r\n", "x_agent.EXE"));
  EXPECT_FALSE(SameTrimmedText("agent.exe", "agent.ex"));
}

// ---- Replace -----------------------------------------------------------------

TEST(Replace, CaseSensitiveAndInsensitive) {
  EXPECT_EQ("a\r\nb\r\nc", ReplaceAllText("a<P>b<p>c", "<P>", "\r\n"));
  EXPECT_EQ("a\r\nb<p>c", ReplaceAll("a<P>b<p>c", "<P>", "\r\n"));
  // Unmatched text keeps its case; inserted text is New unchanged.
  EXPECT_EQ("Xyz-Abc", ReplaceAllText("Xyz-<tag>", "<TAG>", "Abc"));
  EXPECT_EQ("abc", ReplaceAll("abc", "", "x"));
  EXPECT_EQ("", ReplaceAll("", "a", "b"));
}

TEST(Replace, InsertedTextIsNeverRescanned) {
  // New contains Old: a rescanning replace would never end.
  EXPECT_EQ("xaay", ReplaceAll("xay", "a", "aa"));
  EXPECT_EQ("<P><P>", ReplaceAllText("<p>", "<P>", "<P><P>"));
  // Overlapping occurrences are taken left to right.
  EXPECT_EQ("ba", ReplaceAll("aaa", "aa", "b"));
}

TEST(Replace, RemovalDoesNotEatTextThatClosesUp) {
  EXPECT_EQ("ab", ReplaceAll("aabb", "ab", ""));
  EXPECT_EQ("AB", ReplaceAllText("AabB", "ab", ""));
  EXPECT_EQ("", ReplaceAll("abab", "ab", ""));
}

TEST(Replace, BinaryTextSurvives) {
  const std::string s("a\0b\0a", 5);
  EXPECT_EQ(std::string("X\0b\0X", 5), ReplaceAll(s, "a", "X"));
  EXPECT_EQ("a-b-a", ReplaceAll(s, std::string(1, '\0'), "-"));
}

TEST(Unquote, StrictAndLoose) {
  struct Case {
    std::string in;
    bool loose;
    std::string out;
  } cases[] = {
      {"\"", false, ""},
      {"\"\"", false, ""},
      {"\"C:\\a b\\x.exe\"", false, "C:\\a b\\x.exe"},
      {"\"C:\\x.exe", false, "\"C:\\x.exe"},
      {"\"C:\\x.exe", true, "C:\\x.exe"},
      {"C:\\x.exe\"", true, "C:\\x.exe"},
      {"plain", true, "plain"},
      {"", true, ""},
      {"\"a\"b\"", false, "a\"b"},
  };
  for (auto& c : cases)
    EXPECT_EQ(c.out, Unquote(c.in, c.loose)) << c.in << " loose=" << c.loose;
}

// ---- Numbers -----------------------------------------------------------------

TEST(Numbers, MinMaxClamp) {
  EXPECT_EQ(-3, MinInt(-3, 2));
  EXPECT_EQ(2, MaxInt(-3, 2));
  EXPECT_EQ(1, ClampInt(0, 1, 50));
  EXPECT_EQ(50, ClampInt(700, 1, 50));
  EXPECT_EQ(20, ClampInt(20, 1, 50));
  // Raised to Low first, then lowered to High: High wins on a bad range.
  EXPECT_EQ(3, ClampInt(0, 5, 3));
}

TEST(Numbers, ZeroPadInt) {
  EXPECT_EQ("007", ZeroPadInt(7, 3));
  EXPECT_EQ("1234", ZeroPadInt(1234, 3));
  EXPECT_EQ("002", ZeroPadInt(2, 3));
  EXPECT_EQ("0-5", ZeroPadInt(-5, 3));
  EXPECT_EQ("0", ZeroPadInt(0, -4));
}

TEST(Numbers, IntToStrAndBack) {
  const int64_t values[] = {0, 7, -7, 1234567890123LL, INT64_MAX, INT64_MIN};
  for (int64_t v : values) {
    int64_t back = 1;
    ASSERT_TRUE(TryStrToInt64(IntToStr(v), back)) << IntToStr(v);
    EXPECT_EQ(v, back);
  }
  EXPECT_EQ("-9223372036854775808", IntToStr(INT64_MIN));
}

TEST(Numbers, TryStrToInt64RejectsWhatIsNotADecimal) {
  const char* bad[] = {"",   "-",    "+",   " 1",  "1 ",   "1a",  "TRUE",
                       "0x1F", "$1F", "1.5", "--1", "9223372036854775808",
                       "-9223372036854775809", "99999999999999999999"};
  for (const char* t : bad) {
    int64_t v = 42;
    EXPECT_FALSE(TryStrToInt64(t, v)) << t;
    EXPECT_EQ(42, v) << "untouched on failure: " << t;
  }
  int64_t v = 0;
  EXPECT_TRUE(TryStrToInt64("+0012", v));
  EXPECT_EQ(12, v);
  EXPECT_EQ(-1, StrToInt64Def("abc", -1));
  EXPECT_EQ(-30, StrToInt64Def("-30", -1));
}

TEST(Numbers, HexToInt) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"0", 0},       {"ff", 255},          {" 1F\t", 31},
      {"", 0},        {"7FFFFFFF", INT32_MAX}, {"FFFFFFFF", -1},
      {"100000000", 0},  // only the low 32 bits
      {"G", -1},      {"1G", 16 - 1},        {"G0", -16},
  };
  for (auto& c : cases) EXPECT_EQ(c.value, HexToInt(c.text)) << c.text;
}

TEST(Numbers, RandomNumberTextStaysInRangeAndVaries) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string t = RandomNumberText(10000, 100000);
    const int64_t v = StrToInt64Def(t, -1);
    ASSERT_GE(v, 10000) << t;
    ASSERT_LE(v, 100000) << t;
    seen.insert(t);
  }
  // Calls in quick succession must not all draw the same number.
  EXPECT_GT(seen.size(), 100u);
  EXPECT_EQ("5", RandomNumberText(5, 5));
  EXPECT_EQ("5", RandomNumberText(5, 1));
  // The full 64-bit range must not overflow into nonsense.
  EXPECT_NE(-2, StrToInt64Def(RandomNumberText(INT64_MIN, INT64_MAX), -2));
  bool sawLow = false, sawHigh = false;
  for (int i = 0; i < 100; ++i) {
    const int64_t v = StrToInt64Def(RandomNumberText(-1, 0), 9);
    ASSERT_TRUE(v == -1 || v == 0);
    (v == -1 ? sawLow : sawHigh) = true;
  }
  EXPECT_TRUE(sawLow && sawHigh);
}

// ---- Command line ------------------------------------------------------------

TEST(CommandLineArgsOf, StripsTheProgramPath) {
  const std::string exe = "C:\\Program Files\\Korvan\\stub.exe";
  struct Case {
    std::string line;
    std::string args;
  } cases[] = {
      {"\"C:\\Program Files\\Korvan\\stub.exe\" /hide", "/hide"},
      {"\"c:\\program files\\korvan\\STUB.EXE\"  /a /b=1 ", "/a /b=1"},
      // WinExec of an unquoted path.
      {"C:\\Program Files\\Korvan\\stub.exe /_ZZ=99 /WAIT=3", "/_ZZ=99 /WAIT=3"},
      {"\"C:\\Program Files\\Korvan\\stub.exe\"", ""},
      // Started under a short or relative name.
      {"stub.exe /hide", "/hide"},
      {"stub /hide", "/hide"},
      {"\"..\\Korvan\\stub.exe\" /x=\"a b\"", "/x=\"a b"},
      // Arguments only: nothing names the program, nothing is dropped.
      {"/hide /TH_ID=5", "/hide /TH_ID=5"},
      // Another program's name stays; only the leading quote goes.
      {"\"other.exe\" /hide", "other.exe\" /hide"},
  };
  for (auto& c : cases) EXPECT_EQ(c.args, CommandLineArgsOf(c.line, exe)) << c.line;
}

TEST(CommandLineArgsOf, QuotesAroundTheArgumentsGo) {
  EXPECT_EQ("C:\\my file.txt",
            CommandLineArgsOf("x.exe \"C:\\my file.txt\"", "C:\\x.exe"));
  EXPECT_EQ("", CommandLineArgsOf("", "C:\\x.exe"));
  EXPECT_EQ("/a", CommandLineArgsOf("/a", ""));
}

TEST(Switches, ValueShapes) {
  const std::string args =
      "/TH_ID=12 /hide /Path=\"C:\\a b\\/c\" /n=-7 /empty= /e2=/x /last=";
  struct Case {
    std::string sw;
    std::string value;
  } cases[] = {
      {"/TH_ID=", "12"},
      {"/th_id=", "12"},
      {"/Path=", "C:\\a b\\/c"},
      {"/n=", "-7"},
      {"/empty=", ""},   // followed by a blank
      {"/e2=", ""},      // followed directly by the next switch
      {"/last=", "TRUE"},  // at the very end
      {"/hide", ""},
      {"/missing=", ""},
      {"", ""},
  };
  for (auto& c : cases) EXPECT_EQ(c.value, SwitchValueIn(args, c.sw)) << c.sw;
  EXPECT_EQ("TRUE", SwitchValueIn("/hide", "/hide"));
  EXPECT_EQ("C:\\open end", SwitchValueIn("/f=\"C:\\open end", "/f="));
  EXPECT_EQ("a", SwitchValueIn("/t=a/b", "/t="));
}

TEST(Switches, PresenceIsASubstringTest) {
  EXPECT_TRUE(SwitchPresentIn("/hideX", "/hide"));
  EXPECT_TRUE(SwitchPresentIn("/a /HIDE", "/hide"));
  EXPECT_FALSE(SwitchPresentIn("/hid", "/hide"));
  EXPECT_FALSE(SwitchPresentIn("/hide", ""));
}

TEST(Switches, IntFallsBackToDefault) {
  const std::string args = "/SleepX=5 /STOP= /TEST=abc /WAIT=3 /big=99999999999 /flag";
  EXPECT_EQ(5, SwitchIntIn(args, "/SleepX=", -1));
  EXPECT_EQ(3, SwitchIntIn(args, "/wait=", 0));
  EXPECT_EQ(99999999999LL, SwitchIntIn(args, "/big=", 0));
  EXPECT_EQ(-1, SwitchIntIn(args, "/STOP=", -1));
  EXPECT_EQ(-1, SwitchIntIn(args, "/TEST=", -1));
  EXPECT_EQ(-1, SwitchIntIn(args, "/flag", -1));  // "TRUE"
  EXPECT_EQ(-1, SwitchIntIn(args, "/DELAY=", -1));
}

// ---- Paths -------------------------------------------------------------------

TEST(Paths, SetTrailingBackslash) {
  struct Case {
    std::string path;
    bool add;
    std::string out;
  } cases[] = {
      {"C:\\Dir\\", false, "C:\\Dir"}, {"C:\\Dir", true, "C:\\Dir\\"},
      {"C:\\Dir\\", true, "C:\\Dir\\"}, {"C:\\", true, "C:\\"},
      {"C:\\", false, "C:"},           {"C:", true, "C:\\"},
      {"C:\\Dir\\\\", false, "C:\\Dir\\"},  // only one backslash goes
      {"", false, ""},
  };
  for (auto& c : cases)
    EXPECT_EQ(c.out, SetTrailingBackslash(c.path, c.add)) << c.path << " " << c.add;
}

TEST(Paths, CollapseBackslashes) {
  EXPECT_EQ("\\\\server\\share\\x", CollapseBackslashes("\\\\server\\\\share\\\\x", false));
  EXPECT_EQ("C:\\a\\b\\", CollapseBackslashes("C:\\\\\\a\\\\b\\\\", false));
  EXPECT_EQ("C:\\a\\b", CollapseBackslashes("C:\\\\\\a\\\\b\\\\", true));
  EXPECT_EQ("\\\\x", CollapseBackslashes("\\\\\\\\x", false));
  EXPECT_EQ("", CollapseBackslashes("", true));
  EXPECT_EQ("plain", CollapseBackslashes("plain", true));
}

TEST(Paths, FileParts) {
  struct Case {
    std::string path, part, base, ext;
  } cases[] = {
      {"C:\\dir\\setup.tar.gz", "setup.tar.gz", "setup.tar", ".gz"},
      {"C:\\dir.d\\README", "README", "README", ""},
      {"C:setup.exe", "setup.exe", "setup", ".exe"},
      {"C:\\dir\\.hidden", ".hidden", "", ".hidden"},
      {"C:\\dir\\", "", "", ""},
      {"stub.exe", "stub.exe", "stub", ".exe"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.part, FilePartOf(c.path)) << c.path;
    EXPECT_EQ(c.base, FileBaseName(c.path)) << c.path;
    EXPECT_EQ(c.ext, FileExtOf(c.path)) << c.path;
  }
}

// ---- Waiting -----------------------------------------------------------------

namespace {

// A clock that only moves when the wait sleeps, so the loop is checked
// without reading real time.
struct FakeClock {
  static uint32_t now;
  static int pumps;
  static std::vector<uint32_t> sleeps;
  static uint32_t tick() { return now; }
  static void pump() { ++pumps; }
  static void sleep(uint32_t ms) {
    sleeps.push_back(ms);
    now += ms;
  }
  static void reset(uint32_t start) {
    now = start;
    pumps = 0;
    sleeps.clear();
  }
};
uint32_t FakeClock::now = 0;
int FakeClock::pumps = 0;
std::vector<uint32_t> FakeClock::sleeps;

const WaitOps kFakeOps = {FakeClock::tick, FakeClock::pump, FakeClock::sleep};

}  // namespace

TEST(DelayWith, ZeroStillPumpsAndSleepsOneMillisecond) {
  FakeClock::reset(1000);
  DelayWith(0, kFakeOps);
  EXPECT_EQ(1, FakeClock::pumps);
  ASSERT_EQ(1u, FakeClock::sleeps.size());
  EXPECT_EQ(1u, FakeClock::sleeps[0]);
}

TEST(DelayWith, StepsAreATenthClampedAndTheWaitIsLongEnough) {
  struct Case {
    uint32_t ms, step;
  } cases[] = {{100, 10}, {5, 1}, {3000, 50}, {500, 50}, {2, 1}};
  for (auto& c : cases) {
    FakeClock::reset(0);
    DelayWith(c.ms, kFakeOps);
    for (uint32_t s : FakeClock::sleeps) EXPECT_EQ(c.step, s) << c.ms;
    EXPECT_GT(FakeClock::now, c.ms) << c.ms;
    EXPECT_LE(FakeClock::now, c.ms + c.step) << "no extra round: " << c.ms;
    EXPECT_EQ(static_cast<int>(FakeClock::sleeps.size()), FakeClock::pumps);
  }
}

TEST(DelayWith, SurvivesTheTickCounterWrapping) {
  // Started 20 ms before the 32-bit counter wraps: a deadline computed as
  // start + ms would wrap too, and the wait would end at once or never.
  FakeClock::reset(0xFFFFFFFFu - 20);
  DelayWith(100, kFakeOps);
  EXPECT_EQ(11u, FakeClock::sleeps.size());
  EXPECT_LT(FakeClock::now, 0xFFFFFFFFu - 20);  // wrapped
}
