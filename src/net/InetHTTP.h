// HTTP downloads through the system's internet library, bound at run time.
#pragma once

#include <cstdint>

// One process-wide byte: a running download stops when it is set. Cleared
// before a download; set by the stub window's first close request and at the
// end of its message loop.
extern volatile uint8_t DownloadAbort;

// Releases the internet library when it was loaded.
void UnbindWinInet();
