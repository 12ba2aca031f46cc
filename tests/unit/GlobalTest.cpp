#include "settings/Global.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

const char kAllUnset[] = "|255|255|255|255|255|255|";

class Overrides : public ::testing::Test {
 protected:
  void SetUp() override { ApplyOverrideText(kAllUnset); }
  void TearDown() override { ApplyOverrideText(kAllUnset); }
};

}  // namespace

// Runs before any test of this file changes a byte.
TEST(OverridesAtStart, AllUnset) {
  EXPECT_EQ(kAllUnset, OverrideText());
  EXPECT_FALSE(AskBeforeCheck());
  for (int n = 2; n <= 6; ++n) {
    EXPECT_TRUE(FlagWithOverride(n, "1")) << n;
    EXPECT_FALSE(FlagWithOverride(n, "0")) << n;
  }
}

TEST_F(Overrides, SetKeepsLowByteAndIgnoresOtherNumbers) {
  SetOverride(1, 1);
  SetOverride(2, 0);
  SetOverride(3, 256 + 3);
  SetOverride(4, -1);  // low byte 255: the file decides again
  SetOverride(5, 7);
  SetOverride(6, 200);
  SetOverride(0, 9);
  SetOverride(7, 9);
  EXPECT_EQ("|1|0|3|255|7|200|", OverrideText());
  EXPECT_EQ(255, Override(0));
  EXPECT_EQ(255, Override(7));
}

TEST_F(Overrides, TextRoundTrip) {
  const std::string text = "|1|0|2|255|7|200|";
  ApplyOverrideText(text);
  EXPECT_EQ(text, OverrideText());
  for (int n = 1; n <= 6; ++n) SetOverride(n, 255);
  ApplyOverrideText(OverrideText());  // what a restarted agent receives
  EXPECT_EQ(kAllUnset, OverrideText());
}

TEST_F(Overrides, MalformedTokensLeaveTheirByte) {
  ApplyOverrideText("|1|2|3|4|5|6|");
  // "x" and "" are no numbers, " 5" has a blank, the 20 digits overflow,
  // 300 keeps its low byte, and "9" lacks its closing delimiter.
  ApplyOverrideText("|x|| 5|99999999999999999999|300|9");
  EXPECT_EQ("|1|2|3|4|44|6|", OverrideText());
  ApplyOverrideText("");
  ApplyOverrideText("|-1|");
  EXPECT_EQ("|255|2|3|4|44|6|", OverrideText());
  // Only the first six tokens count.
  ApplyOverrideText("|0|0|0|0|0|0|1|");
  EXPECT_EQ("|0|0|0|0|0|0|", OverrideText());
}

TEST_F(Overrides, AskBeforeCheckOnlyForOne) {
  EXPECT_FALSE(AskBeforeCheck());
  SetOverride(1, 2);
  EXPECT_FALSE(AskBeforeCheck());
  SetOverride(1, 1);
  EXPECT_TRUE(AskBeforeCheck());
  SetOverride(1, 257);
  EXPECT_TRUE(AskBeforeCheck());
}

TEST_F(Overrides, OverrideReplacesTheKey) {
  SetOverride(2, 0);
  EXPECT_FALSE(FlagWithOverride(2, "1"));  // "RequestConfirmationBeforeDownload"=1 has no effect
  EXPECT_TRUE(FlagWithOverride(3, "1"));   // the others still follow their key
  SetOverride(3, 1);
  EXPECT_TRUE(FlagWithOverride(3, "0"));
  SetOverride(4, 2);  // neither 1 nor 255: false
  EXPECT_FALSE(FlagWithOverride(4, "1"));
}

TEST(FlagText, OnlyExactOne) {
  EXPECT_TRUE(IsFlagText("1"));
  for (const char* text : {"yes", "2", "", "0", "01", "1.0", "true", "TRUE"}) EXPECT_FALSE(IsFlagText(text)) << text;
  // With the file deciding, the same rule applies.
  EXPECT_FALSE(FlagWithOverride(2, "yes"));
  EXPECT_FALSE(FlagWithOverride(2, "2"));
}

TEST(FormatMegabytes, DecimalsByMagnitude) {
  const double MiB = 1048576.0;
  static const struct {
    double bytes;
    const char* text;
  } kCases[] = {
      {0, "0.000"},
      {1, "0.000"},
      {0.5 * MiB, "0.500"},
      {MiB - 1, "1.000"},           // below 1: three decimals, rounded up to 1
      {MiB, "1.00"},                // 1 itself: two
      {5 * MiB, "5.00"},
      {10 * MiB - 1, "10.00"},      // below 10 keeps two
      {10 * MiB, "10.00"},          // 10 itself: two
      {10 * MiB + 1, "10.0"},       // above 10: one
      {123.45 * MiB, "123.5"},
      {0.0625 * MiB, "0.063"},      // exact ties go up
      {2.125 * MiB, "2.13"},
      {10.25 * MiB, "10.3"},
      {0.0004 * MiB, "0.000"},
      {0.0006 * MiB, "0.001"},
      {4096.0 * MiB * 1024, "4194304.0"},  // 4 TiB
      {-1, "0.000"},
      {-5 * MiB, "0.000"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.text, FormatMegabytes(c.bytes)) << c.bytes;
}

TEST(FormatMegabytes, NoSignOrNanText) {
  EXPECT_EQ("0.000", FormatMegabytes(-0.0));
  EXPECT_EQ("0.000", FormatMegabytes(std::nan("")));
  EXPECT_EQ("0.000", FormatMegabytes(-std::numeric_limits<double>::infinity()));
  // Far past any disk the text stays whole and ends in one decimal.
  const std::string huge = FormatMegabytes(1e30);
  EXPECT_EQ(".0", huge.substr(huge.size() - 2));
  EXPECT_EQ('9', huge[0]);
}

TEST(WorkingFolderName, LowWordOfDosDateTime) {
  EXPECT_EQ("SETUP_0", WorkingFolderName(0));
  EXPECT_EQ("SETUP_0", WorkingFolderName(0x3A6E0000));  // a date, time 00:00:00
  EXPECT_EQ("SETUP_65535", WorkingFolderName(0xFFFF));
  EXPECT_EQ("SETUP_23677", WorkingFolderName(0x4A3B5C7D));
  // Two files of other dates but the same time of day share the folder.
  EXPECT_EQ(WorkingFolderName(0x3A6E5C7D), WorkingFolderName(0x4A3B5C7D));
}

TEST(PickTempDrive, MostFreeBytesFirstOnTies) {
  static const struct {
    char temp;
    double c, d, e;
    char winner;
  } kCases[] = {
      {'C', 100, 200, 50, 'D'},
      {'C', 100, 100, 100, 'C'},   // a tie keeps the first
      {'C', 100, 50, 150, 'E'},
      {'C', -1, -1, -1, 'C'},      // nothing measured
      {'D', 300, 200, -1, 'C'},
      {'D', -1, 200, 200, 'D'},
      {'F', 0, 0, 0, 'F'},         // the candidate starts with 0 bytes
      {'F', -1, 1, -1, 'D'},
  };
  for (const auto& c : kCases) {
    const double free[kProbeDriveCount] = {c.c, c.d, c.e};
    EXPECT_EQ(c.winner, PickTempDrive(c.temp, free)) << c.temp << " " << c.c << " " << c.d << " " << c.e;
  }
}

TEST(AlternateTempBase, NestsWhenTempExists) {
  EXPECT_EQ("D:\\TEMP", AlternateTempBase('D', false));
  EXPECT_EQ("D:\\TEMP\\TEMP", AlternateTempBase('D', true));
}
