#include "net/InetHTTP.h"

#include <gtest/gtest.h>

#include <string>

TEST(InetHTTP, PartialFileNameAddsLengthAndStampAsSigned32) {
  EXPECT_EQ("C:\\T\\setup.exe.1000", PartialFileName("C:\\T\\setup.exe", 1000, 0));
  EXPECT_EQ("a.1617", PartialFileName("a", 1000, 617));
  // 2023-11-14 22:13:20 packs to 0x576EB1AA; with the length it passes 2^31.
  EXPECT_EQ("a." + std::to_string(int32_t(0x576EB1AAu + 0x30000000u)),
            PartialFileName("a", 0x30000000, 0x576EB1AAu));
  EXPECT_EQ("a.-2147483648", PartialFileName("a", 1, 0x7FFFFFFFu));
  EXPECT_EQ("a.-1", PartialFileName("a", 0, 0xFFFFFFFFu));
}

TEST(InetHTTP, PartialFilesOfATarget) {
  struct Case {
    const char* candidate;
    bool partial;
  } cases[] = {
      {"setup.exe.123", true}, {"SETUP.EXE.-5", true},  {"setup.exe.x", true},
      {"setup.exe", false},    {"setup.exe.", false},   {"setup.exe2.5", false},
      {"setup.ex.12", false},  {"SETUP~1.EXE", false},  {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.partial, IsPartialFileOf("setup.exe", c.candidate)) << c.candidate;
  EXPECT_FALSE(IsPartialFileOf("", ".5"));
}

TEST(InetHTTP, BlockIsATenthBetweenOneByteAnd10K) {
  struct Case {
    int64_t total;
    int32_t block;
  } cases[] = {{1, 1}, {9, 1}, {10, 1}, {19, 1}, {20, 2}, {102400, 10240}, {102399, 10239}, {5000000, 10240},
               {0, 1}};
  for (const Case& c : cases) EXPECT_EQ(c.block, DownloadBlockSize(c.total)) << c.total;
}

TEST(InetHTTP, RoundHalfEvenAsPascalRound) {
  EXPECT_EQ(0, RoundHalfEven(1, 2));   // 0.5
  EXPECT_EQ(2, RoundHalfEven(3, 2));   // 1.5
  EXPECT_EQ(2, RoundHalfEven(5, 2));   // 2.5
  EXPECT_EQ(29, RoundHalfEven(300000, 10240));
  EXPECT_EQ(3, RoundHalfEven(26, 10));
  EXPECT_EQ(2, RoundHalfEven(24, 10));
  EXPECT_EQ(0, RoundHalfEven(0, 7));
}

TEST(InetHTTP, ProgressFitsTheBarAndEndsFull) {
  struct Case {
    int64_t total;
    int64_t done;
  } cases[] = {{100, 0}, {300000, 80000}, {670000000, 0}, {700000000, 0}, {2000000000, 123456789},
               {2147483647, 0}};
  for (const Case& c : cases) {
    const int32_t block = DownloadBlockSize(c.total);
    TDownloadProgress bar;
    bar.Start(c.total, c.done, block);
    EXPECT_LE(bar.range, kMaxProgressRange) << c.total;
    EXPECT_GE(bar.range, 1);
    int64_t position = bar.position;
    // Reads of whole blocks to the end, as the server sends them.
    for (int64_t at = c.done; at < c.total; at += block) position += bar.OnBlock();
    EXPECT_LE(position, bar.range) << c.total;
    // Full within one bar unit, whatever the scale.
    EXPECT_GE(position + 1, bar.range) << c.total;
  }
}

TEST(InetHTTP, ProgressWithinTheBarIsOneUnitPerBlock) {
  TDownloadProgress bar;
  bar.Start(300000, 80000, 10240);
  EXPECT_EQ(1, bar.scale);
  EXPECT_EQ(30, bar.range);
  EXPECT_EQ(8, bar.position);
  EXPECT_EQ(1, bar.OnBlock());
  // 700 MB in 10 KB blocks is 68360 blocks: two to a unit.
  bar.Start(700000000, 0, 10240);
  EXPECT_EQ(2, bar.scale);
  EXPECT_EQ(34180, bar.range);
  EXPECT_EQ(0, bar.OnBlock());
  EXPECT_EQ(1, bar.OnBlock());
}

TEST(InetHTTP, RangeHeaderAndContentRange) {
  EXPECT_EQ("Range: bytes=40000-\r\n", RangeRequestHeader(40000));
  int64_t first = 0, last = 0, length = 0;
  ASSERT_TRUE(ParseContentRange("bytes 100-199/200", first, last, length));
  EXPECT_EQ(100, first);
  EXPECT_EQ(199, last);
  EXPECT_EQ(200, length);
  ASSERT_TRUE(ParseContentRange(" Bytes 0-9/*", first, last, length));
  EXPECT_EQ(-1, length);
  for (const char* bad : {"", "bytes", "bytes 5-4/10", "bytes 0-10/10", "bytes */10", "bytes 1-2", "items 0-1/2",
                          "bytes 0-1/2x", "bytes -1-2/3", "bytes 0-99999999999999999999/5"})
    EXPECT_FALSE(ParseContentRange(bad, first, last, length)) << bad;
}

TEST(InetHTTP, OnlyA206FromTheRightOffsetContinues) {
  EXPECT_TRUE(RangeAnswerContinues(206, "bytes 400-999/1000", 400, 1000));
  EXPECT_FALSE(RangeAnswerContinues(200, "bytes 400-999/1000", 400, 1000));
  EXPECT_FALSE(RangeAnswerContinues(206, "bytes 300-999/1000", 400, 1000));  // would repeat bytes
  EXPECT_FALSE(RangeAnswerContinues(206, "bytes 400-799/1000", 400, 1000));  // not to the end
  EXPECT_FALSE(RangeAnswerContinues(206, "bytes 400-1099/1100", 400, 1000));  // another file
  EXPECT_FALSE(RangeAnswerContinues(206, "bytes 400-999/*", 400, 1000));
  EXPECT_FALSE(RangeAnswerContinues(206, "", 400, 1000));
}

TEST(InetHTTP, TransferRateOverTheLastFiveReads) {
  TRateWindow window;
  std::string text;
  FormatTransferRateAt(window, 5000, true, 1000, 0, 0, text);
  EXPECT_EQ("0/1000 Bytes   ", text);  // no time has passed: no rate
  FormatTransferRateAt(window, 5500, false, 1000, 512, 512, text);
  // 512 bytes in 0.5 s: 1 KB/s.
  EXPECT_EQ("512/1000 Bytes   1.00 KB/Sec", text);
  FormatTransferRateAt(window, 6000, false, 102400, 1536, 1024, text);
  EXPECT_EQ("1536/102400 Bytes   1.50 KB/Sec", text);
  FormatTransferRateAt(window, 6000, false, 102400, 1536, 0, text);
  FormatTransferRateAt(window, 6000, false, 102400, 1536, 0, text);
  // Five pushes later the start stamp has left the window: 1536 bytes over
  // the 500 ms from 5500 to 6000.
  FormatTransferRateAt(window, 6000, false, 102400, 1536, 0, text);
  EXPECT_EQ("1536/102400 Bytes   3.00 KB/Sec", text);
  // The oldest read drops out too.
  FormatTransferRateAt(window, 6500, false, 102400, 1536, 0, text);
  EXPECT_EQ("1536/102400 Bytes   2.00 KB/Sec", text);
}

TEST(InetHTTP, TransferRateAcrossTheTickWrap) {
  TRateWindow window;
  std::string text;
  FormatTransferRateAt(window, 0xFFFFFF00u, true, 10, 0, 0, text);
  FormatTransferRateAt(window, 0x00000100u, false, 4096, 2048, 2048, text);
  // 512 ms passed over the wrap: 2048 bytes / 0.512 s / 1024.
  EXPECT_EQ("2048/4096 Bytes   3.91 KB/Sec", text);
}

TEST(InetHTTP, ErrorPageNeedsBothTitleTags) {
  std::string result;
  DetectErrorPageIn("<html><head><title>Not here</title>", "http://h/f", result, "Bad Secret Token!");
  EXPECT_EQ("<b>404 File Not Found...</b><P><P>URL:  http://h/f", result);
  DetectErrorPageIn("<TITLE only", "http://h/f", result, "Bad Secret Token!");
  EXPECT_EQ("Bad Secret Token!", result);
  DetectErrorPageIn(std::string("MZ\0\0</TITLE>", 12), "u", result, "d");
  EXPECT_EQ("d", result);
}

TEST(InetHTTP, TextsOfAFailedDownload) {
  EXPECT_EQ("http://h/f<P><P>File Not Found !", FileNotFoundText("http://h/f"));
  EXPECT_EQ("http://h/f<P><P>Download Incomplete: 5/10 Bytes", IncompleteDownloadText("http://h/f", 5, 10));
  EXPECT_EQ("Unable to write file: C:\\x", WriteFailedText("C:\\x"));
}

TEST(InetHTTP, AbortFlag) {
  SetDownloadAbort(true);
  EXPECT_TRUE(DownloadAborted());
  EXPECT_EQ(1, DownloadAbort);
  SetDownloadAbort(false);
  EXPECT_FALSE(DownloadAborted());
}
