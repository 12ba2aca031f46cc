#include <windows.h>

#include "util/Utils.h"

uint32_t TickCountMs() { return GetTickCount(); }
