#include "package/SLangId.h"

#include <gtest/gtest.h>

TEST(LanguageNameOfId, KnownIdentifiers) {
  struct Case {
    int id;
    const char* name;
  } cases[] = {
      {9, "ENGLISH"},     {19, "DUTCH"},     {1, "ARABIC"},
      {54, "AFRIKAANS"},  {42, "VIETNAMESE"}, {12, "FRENCH"},
      {7, "GERMAN"},      {56, "FAEROESE"},  {22, "PORTUGUESE"},
      {35, "BELARUSIAN"},
  };
  for (auto& c : cases) EXPECT_EQ(c.name, LanguageNameOfId(c.id)) << c.id;
}

TEST(LanguageNameOfId, SharedIdentifierGivesTheFirstEntry) {
  EXPECT_EQ("CROATIAN", LanguageNameOfId(26));
}

TEST(LanguageNameOfId, UnknownIdentifiersGiveEmptyText) {
  // 23 sits in a gap of the table; a partial number match ("4" inside "54")
  // must not count.
  for (int id : {47, 0, -9, 23, 5400, 540})
    EXPECT_EQ("", LanguageNameOfId(id)) << id;
}

TEST(LanguageNameOfId, EveryIdentifierNamesOneOfFortyTwoLanguages) {
  // 43 entries, 26 twice: 42 distinct identifiers below 64 have a name.
  int named = 0;
  for (int id = 0; id < 1024; ++id)
    if (!LanguageNameOfId(id).empty()) ++named;
  EXPECT_EQ(42, named);
}

TEST(PrimaryLanguageOfLocale, LowTenBitsOrEnglish) {
  EXPECT_EQ(12, PrimaryLanguageOfLocale(0x040C));   // French (France)
  EXPECT_EQ(12, PrimaryLanguageOfLocale(0x080C));   // French (Belgium)
  EXPECT_EQ(1, PrimaryLanguageOfLocale(0x0401));    // Arabic (Saudi Arabia)
  EXPECT_EQ(9, PrimaryLanguageOfLocale(0x00010409));  // sort id is ignored
  EXPECT_EQ(9, PrimaryLanguageOfLocale(0));
  EXPECT_EQ(9, PrimaryLanguageOfLocale(0x0400));    // neutral language
  EXPECT_EQ("ENGLISH", LanguageNameOfId(PrimaryLanguageOfLocale(0)));
}

TEST(ThreadLanguageName, NamesTheThreadLanguage) {
  EXPECT_EQ(LanguageNameOfId(ThreadLanguageId()), ThreadLanguageName());
  EXPECT_FALSE(ThreadLanguageName().empty());
}
