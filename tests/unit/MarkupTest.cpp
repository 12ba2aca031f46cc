#include "msgbox/Markup.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "msgbox/MsgBoxLogic.h"

namespace {

struct MarkupCase {
  const char* name;
  const char* input;
  const char* plain;
  std::vector<std::pair<int, int>> ranges;
};

std::vector<std::pair<int, int>> RangesOf(const std::vector<uint16_t>& starts,
                                          const std::vector<uint16_t>& ends) {
  std::vector<std::pair<int, int>> r;
  for (size_t k = 0; k < starts.size(); ++k) r.emplace_back(starts[k], ends[k]);
  return r;
}

}  // namespace

TEST(MarkupToText, EscapesAndTagsInTheirPassOrder) {
  EXPECT_EQ("Line one\r\nLine two", MarkupToText("Line one<P>Line two"));
  EXPECT_EQ("Line one\r\nLine two", MarkupToText("Line one<p>Line two"));
  EXPECT_EQ("a\r\nb", MarkupToText("a\\\\nb"));
  EXPECT_EQ("a\\nb", MarkupToText("a\\nb"));      // single backslash: as typed
  EXPECT_EQ("a\\\\Nb", MarkupToText("a\\\\Nb"));  // escapes are case-sensitive
  EXPECT_EQ("a\tb\tc", MarkupToText("a\\\\tb<t>c"));
  EXPECT_EQ("a\\tb", MarkupToText("a\\tb"));
  // No pass rescans what it produced.
  EXPECT_EQ("<\r\nP>", MarkupToText("<<P>P>"));
  // Bold tags and placeholders are not this function's business.
  EXPECT_EQ("<B>x</B> <SIZE> <I>", MarkupToText("<B>x</B> <SIZE> <I>"));
}

TEST(ExtractBoldRanges, Table) {
  const MarkupCase cases[] = {
      {"disk prompt", "Please insert <B>DISK #2</B> and press OK to continue",
       "Please insert DISK #2 and press OK to continue", {{14, 21}}},
      {"sequential pairs", "a<B>b</B>c<B>d</B>", "abcd", {{1, 2}, {3, 4}}},
      {"lower-case tags", "x<b>y</b>", "xy", {{1, 2}}},
      {"opening tag alone", "abc<B>", "abc", {}},
      {"opening tag with text after but no close", "a<B>bc", "abc", {}},
      {"closing tag alone", "ab</B>c", "abc", {}},
      {"empty pair makes nothing bold", "a<B></B>b", "ab", {}},
      {"caption header", "<<b>TITLE</b><P><P>body<P>", "TITLE\r\n\r\nbody\r\n", {{0, 5}}},
      {"header prefix is exact case", "<<B>T</B>", "<T", {{1, 2}}},
      {"bold over line breaks counts CR LF as two", "<B>a<P>b</B>c", "a\r\nbc", {{0, 4}}},
      {"tags around escapes", "x\\\\n<B>y\\\\tz</B>", "x\r\ny\tz", {{3, 6}}},
      {"placeholder kept", "Need <B><SIZE></B> MB", "Need <SIZE> MB", {{5, 11}}},
      {"unknown tags are text", "<I>i</I>", "<I>i</I>", {}},
      {"paragraph escape not rescanned", "<<P>P>", "<\r\nP>", {}},
      // A stray closing tag before a pair must not cost the pair its bold
      // nor shift its offsets.
      {"stray close before a pair", "</B>a<B>b</B>", "ab", {{1, 2}}},
      // Nested opening tags pair with closing tags in order.
      {"nested", "<B>a<B>b</B>c</B>", "abc", {{0, 2}, {1, 3}}},
      {"empty text", "", "", {}},
  };
  for (const MarkupCase& c : cases) {
    std::string text = c.input;
    std::vector<uint16_t> starts = {99}, ends = {99};  // must be cleared
    ExtractBoldRanges(text, starts, ends);
    EXPECT_EQ(c.plain, text) << c.name;
    EXPECT_EQ(c.ranges, RangesOf(starts, ends)) << c.name;
  }
}

TEST(ExtractBoldRanges, OffsetsPast16BitsAreDroppedNotWrapped) {
  std::string text = "<B>a</B>" + std::string(70000, 'x') + "<B>far</B>";
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(text, starts, ends);
  EXPECT_EQ(70004u, text.size());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 1}}), RangesOf(starts, ends));
}

TEST(ExtractBoldRanges, ComposedHeaderBoldsTheUpperCaseCaption) {
  std::string text = BoxComposeText("Body <b>bold</b>", "Confirm", true);
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(text, starts, ends);
  EXPECT_EQ("CONFIRM\r\n\r\nBody bold\r\n", text);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 7}, {16, 20}}), RangesOf(starts, ends));
  EXPECT_EQ("Body", BoxComposeText("Body", "Confirm", false));
}
