#include <gtest/gtest.h>

#include "agent/AgentLogic.h"

namespace {

struct DueCase {
  bool periodic, checkNow;
  int64_t interval, last, now;
  bool testMode;
  int expected;
};

TEST(AgentLogic, CheckDueTable) {
  const DueCase cases[] = {
      // Interval reached or not.
      {true, false, 3600, 1000, 4600, false, kCheckDue},
      {true, false, 3600, 1000, 4599, false, kCheckNotDue},
      // 0: once per run, marked so the caller stops further checks.
      {true, false, 0, 1000, 1000, false, kCheckDueOnce},
      {true, false, 0, 5000, 1000, false, kCheckNotDue},
      // -1: never, unless asked for.
      {true, false, -1, 0, 999999, false, kCheckNotDue},
      {true, true, -1, 0, 0, false, kCheckDue},
      // After the one check of a run only a request counts.
      {false, false, 0, 0, 999999, false, kCheckNotDue},
      {false, true, 3600, 1000, 1001, false, kCheckDue},
      // Test mode: five seconds whatever the settings say.
      {true, false, 3600, 1000, 1005, true, kCheckDue},
      {true, false, 3600, 1000, 1004, true, kCheckNotDue},
      {true, false, -1, 1000, 2000, true, kCheckNotDue},
      // The interval counts as 32 bits: 2^32 + 10 is 10 seconds.
      {true, false, (int64_t(1) << 32) + 10, 1000, 1010, false, kCheckDue},
      // Points in time are 64-bit.
      {true, false, 60, int64_t(1) << 40, (int64_t(1) << 40) + 59, false, kCheckNotDue},
  };
  for (const DueCase& c : cases) {
    EXPECT_EQ(c.expected, CheckDueAt(c.periodic, c.checkNow, c.interval, c.last, c.now, c.testMode))
        << c.interval << " " << c.last << " " << c.now << " " << c.testMode;
  }
}

TEST(AgentLogic, ValidVersionsAreWholeNumbersOfTheList) {
  EXPECT_TRUE(VersionListAccepts("", 5));
  EXPECT_TRUE(VersionListAccepts("3,4,7", 3));
  EXPECT_TRUE(VersionListAccepts("3,4,7", 7));
  EXPECT_FALSE(VersionListAccepts("3,4,7", 5));
  EXPECT_FALSE(VersionListAccepts("13,47", 4));  // no part of a number
  EXPECT_FALSE(VersionListAccepts("3, 4", 4));   // exact text between commas
  EXPECT_TRUE(VersionListAccepts("-1,0", 0));
}

TEST(AgentLogic, ReAskOnlyAfterAPositiveInterval) {
  EXPECT_TRUE(ReAskDueAt(1101, 1000, 100));
  EXPECT_FALSE(ReAskDueAt(1100, 1000, 100));  // strictly later
  EXPECT_FALSE(ReAskDueAt(999999, 1000, 0));
  EXPECT_FALSE(ReAskDueAt(999999, 1000, -5));
}

TEST(AgentLogic, CheckQuestionHintOnlyForAUrl) {
  EXPECT_EQ("A Prod|hint|B", CheckQuestionText("A PROG_NAME|", "hint|", "B", "http://x", "Prod"));
  EXPECT_EQ("A Prod|B", CheckQuestionText("A PROG_NAME|", "hint|", "B", "C:\\updates", "Prod"));
  EXPECT_EQ("A|B", CheckQuestionText("A|", "hint|", "B", "ab", "Prod"));  // too short for a URL
  EXPECT_EQ("<b>NEW UPDATE</b>\\\\n\\\\nKorvan will check if a new update is available for: <b>Prod</b>\\\\n",
            DefaultCheckQuestionFirst("Prod"));
}

TEST(AgentLogic, ErrorPageNeedsBothTitleTags) {
  EXPECT_EQ("<b>404 File Not Found...</b><P><P>URL:  http://u/f",
            ErrorPageText("<html><Title>x</tItle>", "http://u/f", "Bad Secret Token!"));
  EXPECT_EQ("Bad Secret Token!", ErrorPageText("<title>no end", "http://u/f", "Bad Secret Token!"));
  EXPECT_EQ("", ErrorPageText("[NewSetup]\r\nVersionNew=2\r\n", "u", ""));
}

TEST(AgentLogic, CopyArgumentsInOrder) {
  EXPECT_EQ("", CopyArguments("", ""));
  EXPECT_EQ(" /TRANSIENTx=|1|2|3|4|5|6|", CopyArguments("|1|2|3|4|5|6|", ""));
  EXPECT_EQ(" /SleepX=4", CopyArguments("", "4"));
  EXPECT_EQ(" /TRANSIENTx=|1| /SleepX=0", CopyArguments("|1|", "0"));
}

TEST(AgentLogic, NotifyTargetParts) {
  struct {
    const char* value;
    int64_t window, message;
  } cases[] = {{"1234:32773", 1234, 32773}, {"1234", 1234, 0}, {"abc:5", 0, 5}, {":7", 0, 7},
               {"99:x", 99, 0}, {"4294967298:1", 4294967298LL, 1}};
  for (const auto& c : cases) {
    int64_t w = -1, m = -1;
    ParseNotifyTarget(c.value, w, m);
    EXPECT_EQ(c.window, w) << c.value;
    EXPECT_EQ(c.message, m) << c.value;
  }
}

TEST(AgentLogic, FireTimeText) {
  EXPECT_EQ("05-03-2026  07:08:09", FireTimeText(TLocalTime{2026, 3, 5, 7, 8, 9, 500}));
}

TEST(AgentLogic, ShutDownMethodsAreExactTexts) {
  EXPECT_EQ(sdmMessageBox, ShutDownMethodOf("Issue a Message Box"));
  EXPECT_EQ(sdmWmClose, ShutDownMethodOf("Using WM_CLOSE"));
  EXPECT_EQ(sdmWmQuit, ShutDownMethodOf("Using WM_QUIT"));
  EXPECT_EQ(sdmTerminate, ShutDownMethodOf("Using Terminate Process"));
  EXPECT_EQ(sdmNone, ShutDownMethodOf("Don't Shut Down"));
  EXPECT_EQ(sdmUnknown, ShutDownMethodOf("using wm_close"));
  EXPECT_EQ(sdmUnknown, ShutDownMethodOf(""));
}

TEST(AgentLogic, QuotedPathOnce) {
  EXPECT_EQ("\"C:\\Program Files\\a.exe\"", QuotedPath("C:\\Program Files\\a.exe"));
  EXPECT_EQ("\"C:\\a.exe\"", QuotedPath("\"C:\\a.exe\""));
}

}  // namespace
