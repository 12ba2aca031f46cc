#include <windows.h>

#include "net/InetHTTP.h"

volatile uint8_t DownloadAbort = 0;

namespace {
HMODULE g_wininet = nullptr;
}

void UnbindWinInet() {
  if (g_wininet) FreeLibrary(g_wininet);
  g_wininet = nullptr;
}
