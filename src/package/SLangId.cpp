// The language table and its lookup.
#include "package/SLangId.h"

#include "util/Utils.h"

namespace {

// Kept as one delimited list, like every other table of the package texts.
// When two languages share an identifier the first entry wins.
const char kLanguageTable[] =
    "|AFRIKAANS    = 54"
    "|ALBANIAN     = 28"
    "|ARABIC       = 1"
    "|BASQUE       = 45"
    "|BELARUSIAN   = 35"
    "|BULGARIAN    = 2"
    "|CATALAN      = 3"
    "|CHINESE      = 4"
    "|CROATIAN     = 26"
    "|CZECH        = 5"
    "|DANISH       = 6"
    "|DUTCH        = 19"
    "|ENGLISH      = 9"
    "|ESTONIAN     = 37"
    "|FAEROESE     = 56"
    "|FARSI        = 41"
    "|FINNISH      = 11"
    "|FRENCH       = 12"
    "|GERMAN       = 7"
    "|GREEK        = 8"
    "|HEBREW       = 13"
    "|HUNGARIAN    = 14"
    "|ICELANDIC    = 15"
    "|INDONESIAN   = 33"
    "|ITALIAN      = 16"
    "|JAPANESE     = 17"
    "|KOREAN       = 18"
    "|LATVIAN      = 38"
    "|LITHUANIAN   = 39"
    "|NORWEGIAN    = 20"
    "|POLISH       = 21"
    "|PORTUGUESE   = 22"
    "|ROMANIAN     = 24"
    "|RUSSIAN      = 25"
    "|SERBIAN      = 26"
    "|SLOVAK       = 27"
    "|SLOVENIAN    = 36"
    "|SPANISH      = 10"
    "|SWEDISH      = 29"
    "|THAI         = 30"
    "|TURKISH      = 31"
    "|UKRAINIAN    = 34"
    "|VIETNAMESE   = 42"
    "|";

}  // namespace

std::string LanguageNameOfId(int id) {
  const std::string table(kLanguageTable);
  const std::string wanted = IntToStr(id);
  const int count = ListTokenCount(table);
  for (int i = 0; i < count; ++i) {
    const std::string token = ListGetToken(table, i);
    const size_t eq = token.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = Trim(token.substr(0, eq));
    if (!name.empty() && Trim(token.substr(eq + 1)) == wanted) return name;
  }
  return std::string();
}

int PrimaryLanguageOfLocale(uint32_t localeId) {
  // A neutral locale (no primary language) reads as English, the section
  // every package carries.
  const int primary = static_cast<int>(localeId & 0x3FF);
  return primary == 0 ? 9 : primary;
}

std::string ThreadLanguageName() {
  return LanguageNameOfId(ThreadLanguageId());
}
