#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "paths/Files.h"
#include "util/UtilsWin.h"

namespace {

// A scratch folder of its own under the temporary folder.
class FilesWin : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir(true) + "KorvanFilesTest" + std::to_string(GetCurrentProcessId());
    DeleteTree(dir_, true);
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
  }
  void TearDown() override { DeleteTree(dir_, true); }

  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  void Make(const std::string& name, const std::string& data = "x", DWORD attributes = 0) {
    ASSERT_TRUE(WriteFileText(Path(name), data, 0, false)) << name;
    if (attributes) ASSERT_TRUE(SetFileAttributesA(Path(name).c_str(), attributes));
  }
  void MakeDir(const std::string& name, DWORD attributes = 0) {
    ASSERT_TRUE(CreateDirectoryA(Path(name).c_str(), nullptr)) << name;
    if (attributes) ASSERT_TRUE(SetFileAttributesA(Path(name).c_str(), attributes));
  }
  bool Exists(const std::string& name) const {
    return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static uint32_t DosDateOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    return (uint32_t(date) << 16) | time;
  }

  std::string dir_;
};

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += char(i);
  return s;
}

// 14 March 2009 10:20:30, as a DOS date-time.
const uint32_t kDosDate = (uint32_t(((2009 - 1980) << 9) | (3 << 5) | 14) << 16) | ((10 << 11) | (20 << 5) | 15);

}  // namespace

TEST_F(FilesWin, WriteAndReadBackAnyBytes) {
  const std::string data = AllBytes() + AllBytes();
  ASSERT_TRUE(WriteFileText(Path("a.bin"), data, 0, false));
  EXPECT_EQ(data, ReadFileRange(Path("a.bin"), 0, 0));
  EXPECT_EQ(512u, FileSizeOf(Path("a.bin")));
  // Truncates what was there; an empty text still makes the file.
  ASSERT_TRUE(WriteFileText(Path("a.bin"), "short", 0, false));
  EXPECT_EQ("short", ReadFileRange(Path("a.bin"), 0, 0));
  ASSERT_TRUE(WriteFileText(Path("a.bin"), "", 0, false));
  EXPECT_TRUE(Exists("a.bin"));
  EXPECT_EQ(0u, FileSizeOf(Path("a.bin")));
  EXPECT_FALSE(WriteFileText(Path("no such folder\\a.bin"), "x", 0, false));
}

TEST_F(FilesWin, AppendCreatesThenExtends) {
  ASSERT_TRUE(WriteFileText(Path("log.txt"), "one", 0, true));  // missing: created
  ASSERT_TRUE(WriteFileText(Path("log.txt"), "two", 0, true));
  ASSERT_TRUE(AppendToFile(Path("log.txt"), "three", 0));
  ASSERT_TRUE(AppendToFile(Path("new.txt"), "", 0));
  EXPECT_EQ("onetwothree", ReadFileRange(Path("log.txt"), 0, 0));
  EXPECT_TRUE(Exists("new.txt"));
  EXPECT_FALSE(AppendToFile(Path("no such folder\\x"), "x", 0));
}

TEST_F(FilesWin, LargeTextsArriveWhole) {
  for (size_t size : {size_t(1048576), size_t(1048577), size_t(3 * 1048576 + 5)}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = char((i * 7 + i / 251) & 0xFF);
    ASSERT_TRUE(WriteFileText(Path("big.bin"), data, 0, false)) << size;
    EXPECT_EQ(size, FileSizeOf(Path("big.bin")));
    EXPECT_TRUE(ReadFileRange(Path("big.bin"), 0, 0) == data) << size;
  }
}

TEST_F(FilesWin, DateIsSetOnlyWhenAsked) {
  ASSERT_TRUE(WriteFileText(Path("dated.txt"), "x", kDosDate, false));
  EXPECT_EQ(kDosDate, DosDateOf(Path("dated.txt")));
  ASSERT_TRUE(AppendToFile(Path("dated.txt"), "y", 0));  // 0: the write itself dates the file now
  EXPECT_NE(kDosDate, DosDateOf(Path("dated.txt")));
  ASSERT_TRUE(AppendToFile(Path("dated.txt"), "z", kDosDate));
  EXPECT_EQ(kDosDate, DosDateOf(Path("dated.txt")));
  EXPECT_EQ("xyz", ReadFileRange(Path("dated.txt"), 0, 0));
}

TEST_F(FilesWin, ReadRangeLimits) {
  Make("r.txt", "0123456789");
  EXPECT_EQ("0123456789", ReadFileRange(Path("r.txt"), 0, 0));
  EXPECT_EQ("3456789", ReadFileRange(Path("r.txt"), 3, 0));
  EXPECT_EQ("345", ReadFileRange(Path("r.txt"), 3, 3));
  EXPECT_EQ("89", ReadFileRange(Path("r.txt"), 8, 10000));
  EXPECT_EQ("9", ReadFileRange(Path("r.txt"), 9, 0));
  EXPECT_EQ("", ReadFileRange(Path("r.txt"), 10, 0));
  EXPECT_EQ("", ReadFileRange(Path("r.txt"), -1, 0));
  EXPECT_EQ("", ReadFileRange(Path("r.txt"), -1, 5));
  EXPECT_EQ("", ReadFileRange(Path("missing.txt"), 0, 0));
  EXPECT_EQ("", ReadFileRange(dir_, 0, 0));  // a folder is no file
  // Shared reading: a file another handle writes can still be read.
  HANDLE h = CreateFileA(Path("r.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ("012", ReadFileRange(Path("r.txt"), 0, 3));
  CloseHandle(h);
}

TEST_F(FilesWin, SizeOfFirstMatch) {
  Make("only.dat", std::string(1234, 'q'), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(1234u, FileSizeOf(Path("only.dat")));  // any attributes
  EXPECT_EQ(1234u, FileSizeOf(Path("*.dat")));
  EXPECT_EQ(0u, FileSizeOf(Path("missing.dat")));
}

TEST_F(FilesWin, DiskFree) {
  EXPECT_GT(DiskFreeBytes(""), 0);
  EXPECT_GT(DiskFreeBytes("c:\\whatever"), 0);
  EXPECT_GT(DiskFreeBytes(dir_), 0);
  const DWORD drives = GetLogicalDrives();
  int free = -1;
  for (int i = 25; i >= 3 && free < 0; --i)
    if ((drives & (1u << i)) == 0) free = i;
  ASSERT_GE(free, 0);
  EXPECT_EQ(-1, DiskFreeBytes(std::string(1, char('A' + free)) + ":\\x"));
}

TEST_F(FilesWin, DeleteByMaskTakesEveryKindOfFile) {
  Make("a.tmp");
  Make("b.tmp", "x", FILE_ATTRIBUTE_HIDDEN);
  Make("c.tmp", "x", FILE_ATTRIBUTE_SYSTEM);
  Make("keep.txt");
  MakeDir("d.tmp");
  EXPECT_TRUE(DeleteFilesByMask(Path("*.tmp"), false));
  EXPECT_FALSE(Exists("a.tmp"));
  EXPECT_FALSE(Exists("b.tmp"));
  EXPECT_FALSE(Exists("c.tmp"));
  EXPECT_TRUE(Exists("keep.txt"));
  EXPECT_TRUE(Exists("d.tmp"));  // folders are never listed
  EXPECT_FALSE(DeleteFilesByMask(Path("*.tmp"), false));
  EXPECT_FALSE(DeleteFilesByMask(Path("none\\*.*"), true));
}

TEST_F(FilesWin, DeleteByMaskReadOnlyNeedsClearAttributes) {
  Make("ro.txt", "x", FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(DeleteFilesByMask(Path("ro.txt"), false));  // attempted, failed
  EXPECT_TRUE(Exists("ro.txt"));
  EXPECT_TRUE(DeleteFilesByMask(Path("ro.txt"), true));
  EXPECT_FALSE(Exists("ro.txt"));
}

TEST_F(FilesWin, DeleteTreeRemovesEverything) {
  Make("top.txt");
  MakeDir("sub");
  Make("sub\\ro.txt", "x", FILE_ATTRIBUTE_READONLY);
  MakeDir("sub\\deeper");
  Make("sub\\deeper\\h.txt", "x", FILE_ATTRIBUTE_HIDDEN);
  MakeDir("sub\\deeper\\empty");
  EXPECT_TRUE(DeleteTree(dir_, true));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir_.c_str()));
  EXPECT_FALSE(DeleteTree(dir_, true));  // already gone
  EXPECT_FALSE(DeleteTree("", true));
}

TEST_F(FilesWin, DeleteTreeLeavesWhatItCannotRemove) {
  MakeDir("locked");
  Make("locked\\ro.txt", "x", FILE_ATTRIBUTE_READONLY);
  Make("plain.txt");
  EXPECT_FALSE(DeleteTree(dir_, false));
  EXPECT_TRUE(Exists("locked\\ro.txt"));
  EXPECT_FALSE(Exists("plain.txt"));
}

TEST_F(FilesWin, DeleteTreeSkipsHiddenFolders) {
  MakeDir("hidden", FILE_ATTRIBUTE_HIDDEN);
  Make("hidden\\inside.txt");
  MakeDir("plain");
  Make("plain\\inside.txt");
  Make("file.txt");
  EXPECT_FALSE(DeleteTree(dir_, true));
  EXPECT_TRUE(Exists("hidden\\inside.txt"));
  EXPECT_FALSE(Exists("plain"));
  EXPECT_FALSE(Exists("file.txt"));
  SetFileAttributesA(Path("hidden").c_str(), FILE_ATTRIBUTE_NORMAL);  // let TearDown remove it
}

TEST_F(FilesWin, DeleteTreeOfAFileIsFalse) {
  Make("plain.txt");
  EXPECT_FALSE(DeleteTree(Path("plain.txt"), true));
  EXPECT_TRUE(Exists("plain.txt"));
}
