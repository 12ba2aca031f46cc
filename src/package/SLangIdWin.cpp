#include <windows.h>

#include "package/SLangId.h"

int ThreadLanguageId() {
  return PrimaryLanguageOfLocale(static_cast<uint32_t>(GetThreadLocale()));
}
