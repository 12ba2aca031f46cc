#include "paths/Files.h"

#include <gtest/gtest.h>

TEST(SelfDeleteBatchText, ExactBytes) {
  EXPECT_EQ(
      ":START\r\n"
      "DEL \"C:\\Program Files\\Prod\\X_agent.exe\"\r\n"
      "IF errorlevel 1 GOTO START\r\n"
      "DEL \"C:\\TEMP\\_DEL_ME_.BAT\"\r\n",
      SelfDeleteBatchText("C:\\Program Files\\Prod\\X_agent.exe", "C:\\TEMP\\_DEL_ME_.BAT"));
}

TEST(WriteChunkSize, OnePieceUpToOneMiBThenTenths) {
  EXPECT_EQ(0u, WriteChunkSize(0));
  EXPECT_EQ(1048576u, WriteChunkSize(1048576));
  EXPECT_EQ(104857u, WriteChunkSize(1048577));
  EXPECT_EQ(1000000u, WriteChunkSize(10000000));
  EXPECT_EQ(1048576u, WriteChunkSize(10485770));  // never more than 1 MiB a write
  EXPECT_EQ(1048576u, WriteChunkSize(50u << 20));
}

TEST(ReadRangeCount, StaysInsideTheFile) {
  static const struct {
    int64_t size, offset, maxCount, count;
  } kCases[] = {
      {100, 0, 0, 100},   {100, 10, 0, 90}, {100, 10, 20, 20}, {100, 90, 50, 10},
      {100, 100, 0, 0},   {100, -1, 0, 0},  {100, 200, 0, 0},  {0, 0, 0, 0},
      {100, 0, -5, 0},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.count, ReadRangeCount(c.size, c.offset, c.maxCount))
        << c.size << " " << c.offset << " " << c.maxCount;
}

TEST(EntryPassesMask, GuardedBitsMustBeInTheMask) {
  const uint32_t files = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;  // 0x27
  EXPECT_TRUE(EntryPassesMask(0x00, files));
  EXPECT_TRUE(EntryPassesMask(kAttrReadOnly | kAttrHidden | kAttrSystem, files));
  EXPECT_TRUE(EntryPassesMask(0x80 /* normal */, files));
  EXPECT_FALSE(EntryPassesMask(kAttrDirectory, files));
  EXPECT_FALSE(EntryPassesMask(kAttrVolume, files));
  EXPECT_TRUE(EntryPassesMask(kAttrDirectory, kAttrDirectory));
  EXPECT_TRUE(EntryPassesMask(kAttrDirectory | kAttrReadOnly | kAttrArchive, kAttrDirectory));
  // Hidden or system folders stay out of the folder scan.
  EXPECT_FALSE(EntryPassesMask(kAttrDirectory | kAttrHidden, kAttrDirectory));
  EXPECT_FALSE(EntryPassesMask(kAttrDirectory | kAttrSystem, kAttrDirectory));
  EXPECT_TRUE(EntryPassesMask(kAttrDirectory | kAttrHidden | kAttrVolume, kAttrAny));
  EXPECT_FALSE(EntryPassesMask(kAttrHidden, 0));
}

TEST(MaskFolderPart, KeepsWhatPrecedesTheFileName) {
  EXPECT_EQ("C:\\x\\", MaskFolderPart("C:\\x\\*.tmp"));
  EXPECT_EQ("C:\\x\\y\\", MaskFolderPart("C:\\x\\y\\*.*"));
  EXPECT_EQ("", MaskFolderPart("*.tmp"));
  EXPECT_EQ("C:", MaskFolderPart("C:*.tmp"));
  EXPECT_EQ("\\\\srv\\share\\", MaskFolderPart("\\\\srv\\share\\a?.txt"));
}

TEST(DiskRootOf, DriveLetterUpperCased) {
  EXPECT_EQ("C:\\", DiskRootOf("c:\\temp\\x"));
  EXPECT_EQ("Z:\\", DiskRootOf("Z:"));
  EXPECT_EQ("", DiskRootOf(""));
}
