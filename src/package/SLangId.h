// SLangId: names the user's language after a Windows primary language
// identifier, so that the package's language section can be picked by name.
#ifndef KORVAN_PACKAGE_SLANGID_H
#define KORVAN_PACKAGE_SLANGID_H

#include <cstdint>
#include <string>

// Upper-case English name of a primary language identifier (LANG_ value),
// "" when the table has no entry for it.
std::string LanguageNameOfId(int id);

// Primary language of a locale identifier: its low 10 bits, English (9) when
// the locale names no language.
int PrimaryLanguageOfLocale(uint32_t localeId);

// Primary language of the calling thread's locale. Defined per platform:
// the thread locale on Windows, English elsewhere.
int ThreadLanguageId();

// LanguageNameOfId(ThreadLanguageId()).
std::string ThreadLanguageName();

#endif
