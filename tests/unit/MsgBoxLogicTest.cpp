#include "msgbox/MsgBoxLogic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(BoxButtonsOf, EachSetLeftToRight) {
  struct Case {
    uint32_t flags;
    std::vector<std::pair<int, int>> buttons;  // caption index, identifier
  };
  const Case cases[] = {
      {0x0, {{0, 1}}},
      {0x1, {{0, 1}, {1, 2}}},
      {0x2, {{4, 3}, {5, 4}, {6, 5}}},
      {0x3, {{2, 6}, {3, 7}, {1, 2}}},
      {0x24, {{2, 6}, {3, 7}}},  // icon and default bits do not matter
      {0x5, {{5, 4}, {1, 2}}},
      {0x6, {}},
      {0xF, {}},
  };
  for (const Case& c : cases) {
    BoxButton out[kBoxSlots];
    const int n = BoxButtonsOf(c.flags, out);
    std::vector<std::pair<int, int>> got;
    for (int k = 0; k < n; ++k) got.emplace_back(out[k].captionIndex, out[k].id);
    EXPECT_EQ(c.buttons, got) << "flags " << c.flags;
  }
}

TEST(BoxDefaultSlot, FromTheDefaultBitsWithinTheButtons) {
  EXPECT_EQ(0, BoxDefaultSlot(0x24, 2));
  EXPECT_EQ(1, BoxDefaultSlot(0x124, 2));
  EXPECT_EQ(2, BoxDefaultSlot(0x203, 3));
  EXPECT_EQ(0, BoxDefaultSlot(0x204, 2));  // no third button
  EXPECT_EQ(0, BoxDefaultSlot(0xF00, 3));
}

TEST(BoxEffectiveFlags, HebrewAndArabicReadRightToLeft) {
  EXPECT_EQ(0x180024u, BoxEffectiveFlags(0x24, 177));
  EXPECT_EQ(0x180024u, BoxEffectiveFlags(0x24, 178));
  EXPECT_EQ(0x24u, BoxEffectiveFlags(0x24, 0));
  EXPECT_EQ(0x24u, BoxEffectiveFlags(0x24, 161));
}

TEST(BoxMeasureLines, EmptyLinesMeasureAsOneBlank) {
  EXPECT_EQ((std::vector<std::string>{" "}), BoxMeasureLines(""));
  EXPECT_EQ((std::vector<std::string>{"a", " ", "b", " "}), BoxMeasureLines("a\r\n\r\nb\r\n"));
  EXPECT_EQ((std::vector<std::string>{"a\nb"}), BoxMeasureLines("a\nb"));  // only CR LF cuts
}

TEST(BoxTextBlock, WideLinesCapTheWidthAndAddRows) {
  BoxSize s = BoxTextBlock({{150, 13}});
  EXPECT_EQ(150, s.width);
  EXPECT_EQ(13, s.height);
  s = BoxTextBlock({{100, 13}, {1250, 13}, {599, 13}, {600, 13}});
  EXPECT_EQ(600, s.width);
  EXPECT_EQ(13 * (1 + 3 + 1 + 2), s.height);
}

TEST(BoxWindowSize, MarginsAndTheMinimumWidth) {
  // Short one-line text: margins 64 and 45, never narrower than 360.
  BoxSize s = BoxWindowSize(110, 13, 4, 4, 19);
  EXPECT_EQ(360, s.width);
  EXPECT_EQ(13 + 36 + 90 + 8 + 19, s.height);
  s = BoxWindowSize(199, 38, 4, 4, 19);
  EXPECT_EQ(199 + 54 + 128 + 8, s.width);
  EXPECT_EQ(38 + 36 + 90 + 8 + 19, s.height);
  s = BoxWindowSize(200, 39, 4, 4, 19);
  EXPECT_EQ(360, s.width);  // 200 + 54 + 64 + 8 = 326
  EXPECT_EQ(39 + 36 + 64 + 8 + 19, s.height);
  s = BoxWindowSize(300, 39, 4, 4, 19);
  EXPECT_EQ(300 + 54 + 64 + 8, s.width);
  s = BoxWindowSize(610, 130, 3, 3, 18);
  EXPECT_EQ(610 + 54 + 64 + 6, s.width);
}

TEST(BoxTextOrigin, CentredRightOfTheBandAboveTheBar) {
  int x = 0, y = 0;
  BoxTextOrigin(352, 200, 110, 13, x, y);
  EXPECT_EQ((352 - 54 - 110) / 2 + 54, x);
  EXPECT_EQ((200 - 36 - 13) / 2, y);
  BoxTextOrigin(100, 40, 110, 13, x, y);  // smaller than the text: toward zero
  EXPECT_EQ(54 + (-64 / 2), x);
  EXPECT_EQ(-4, y);
}

TEST(BoxArrowSlot, WrapsAndPassesOverEmptySlots) {
  const bool three[kBoxSlots] = {true, true, true};
  EXPECT_EQ(2, BoxArrowSlot(0, true, three));
  EXPECT_EQ(0, BoxArrowSlot(1, true, three));
  EXPECT_EQ(1, BoxArrowSlot(-1, true, three));
  EXPECT_EQ(0, BoxArrowSlot(2, false, three));
  EXPECT_EQ(0, BoxArrowSlot(-1, false, three));
  const bool two[kBoxSlots] = {true, true, false};
  EXPECT_EQ(1, BoxArrowSlot(0, true, two));   // 2 is empty: on to 1
  EXPECT_EQ(0, BoxArrowSlot(1, false, two));  // 2 is empty: on to 0
  const bool one[kBoxSlots] = {true, false, false};
  EXPECT_EQ(0, BoxArrowSlot(-1, true, one));
  EXPECT_EQ(0, BoxArrowSlot(0, false, one));
  const bool none[kBoxSlots] = {false, false, false};
  EXPECT_EQ(-1, BoxArrowSlot(-1, false, none));
}

TEST(BoxAltSlot, SecondCharacterOfTheCaption) {
  const bool three[kBoxSlots] = {true, true, true};
  const std::string amp[kBoxSlots] = {"&OK", "&Cancel", "&Oui"};
  EXPECT_EQ(0, BoxAltSlot('o', amp, three));  // left-most of two matches
  EXPECT_EQ(0, BoxAltSlot('O', amp, three));
  EXPECT_EQ(1, BoxAltSlot('c', amp, three));
  EXPECT_EQ(-1, BoxAltSlot('k', amp, three));
  const std::string plain[kBoxSlots] = {"OK", "", "x"};
  EXPECT_EQ(0, BoxAltSlot('k', plain, three));
  EXPECT_EQ(-1, BoxAltSlot('o', plain, three));
  const bool firstGone[kBoxSlots] = {false, true, true};
  EXPECT_EQ(2, BoxAltSlot('o', amp, firstGone));
  // The upper-casing is ASCII only: a lower-case caption letter wants itself.
  const std::string lower[kBoxSlots] = {"&ok", "", ""};
  EXPECT_EQ(0, BoxAltSlot('o', lower, three));
  EXPECT_EQ(-1, BoxAltSlot('O', lower, three));
}
