// Host builds have no thread locale of the Windows kind: English.
#include "package/SLangId.h"

int ThreadLanguageId() { return 9; }
