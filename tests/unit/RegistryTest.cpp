#include "util/Registry.h"

#include <gtest/gtest.h>

TEST(SplitRegPath, RootNameAndSubKey) {
  static const struct {
    const char* path;
    TRegRoot root;
    const char* subKey;
  } kCases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft", kRegLocalMachine, "SOFTWARE\\Microsoft"},
      {"hkey_local_machine\\software\\x", kRegLocalMachine, "software\\x"},
      {"HKEY_CLASSES_ROOT\\.txt", kRegClassesRoot, ".txt"},
      {"HKEY_USERS\\.DEFAULT", kRegUsers, ".DEFAULT"},
      {"HKEY_CURRENT_CONFIG\\System", kRegCurrentConfig, "System"},
      {"HKEY_DYN_DATA\\PerfStats", kRegDynData, "PerfStats"},
      {"HKEY_CURRENT_USER\\Software\\Korvan_Dyn_Data", kRegCurrentUser, "Software\\Korvan_Dyn_Data"},
      // Trimmed first; only the first backslash splits.
      {"  HKEY_USERS\\a\\b\\ \t", kRegUsers, "a\\b\\"},
      // No root name: all of it is a sub-key of the current user.
      {"Software\\x", kRegCurrentUser, "Software\\x"},
      {"HKEY_LOCAL_MACHINE", kRegCurrentUser, "HKEY_LOCAL_MACHINE"},
      {"XHKEY_LOCAL_MACHINE\\y", kRegCurrentUser, "XHKEY_LOCAL_MACHINE\\y"},
      // A root outside the table falls back to the current user but still
      // loses its name.
      {"HKEY_PERFORMANCE_DATA\\Counters", kRegCurrentUser, "Counters"},
      {"HKEY_\\z", kRegCurrentUser, "z"},
      {"", kRegCurrentUser, ""},
  };
  for (const auto& c : kCases) {
    TRegRoot root = kRegDynData;
    std::string subKey = "stale";
    SplitRegPath(c.path, root, subKey);
    EXPECT_EQ(c.root, root) << c.path;
    EXPECT_EQ(c.subKey, subKey) << c.path;
  }
}

TEST(RegRootOf, WholeNamesOnlyAnyCase) {
  EXPECT_EQ(kRegLocalMachine, RegRootOf("Hkey_Local_Machine"));
  EXPECT_EQ(kRegClassesRoot, RegRootOf("hkey_classes_root"));
  EXPECT_EQ(kRegCurrentUser, RegRootOf("HKEY_LOCAL_MACHINE "));
  EXPECT_EQ(kRegCurrentUser, RegRootOf("HKLM"));
  EXPECT_EQ(kRegCurrentUser, RegRootOf(""));
}

TEST(CurrentVersionKeyPathFor, NtFamilyReadsTheWindowsNtKey) {
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", CurrentVersionKeyPathFor(true));
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", CurrentVersionKeyPathFor(false));
}
