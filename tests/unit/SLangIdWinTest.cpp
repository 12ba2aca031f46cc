#include <windows.h>

#include "package/SLangId.h"

#include <gtest/gtest.h>

TEST(SLangIdWin, FollowsTheThreadLocale) {
  const LCID saved = GetThreadLocale();
  struct Case {
    LCID locale;
    const char* name;
  } cases[] = {
      {MAKELCID(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), SORT_DEFAULT), "FRENCH"},
      {MAKELCID(MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA), SORT_DEFAULT), "ARABIC"},
      {MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_SWISS), SORT_DEFAULT), "GERMAN"},
  };
  for (auto& c : cases) {
    ASSERT_TRUE(SetThreadLocale(c.locale)) << c.name;
    EXPECT_EQ(static_cast<int>(PRIMARYLANGID(LANGIDFROMLCID(c.locale))), ThreadLanguageId());
    EXPECT_EQ(c.name, ThreadLanguageName());
  }
  SetThreadLocale(saved);
}
