// Win32 half of InetHTTP: the procedures of WinINet.dll, looked up by name on
// first use so that the program runs where the library is missing (every
// internet operation then fails), and the downloads built on them.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "net/InetHTTP.h"

// Kind 0: set up (Low 0, Range, Position, Step 1); Kind 1: one step (0, 0, 0).
// Text is the transfer-rate text.
typedef void (*DownloadProgressProc)(int kind, int low, int range, int position, int step,
                                     const std::string& text);

// Loads WinINet.dll when no handle is held yet and looks up ProcName.
FARPROC BindWinInetProc(FARPROC& slot, const char* procName);

// One wrapper per procedure, arguments in Win32 order. Each returns 0 (false,
// no handle) without calling anything when the procedure cannot be bound.
BOOL InetGetConnectedState(LPDWORD flags, DWORD reserved);
BOOL InetCloseHandle(HINTERNET handle);
HINTERNET InetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags);
HINTERNET InetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                       DWORD_PTR context);
BOOL InetHttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index);
BOOL InetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read);
DWORD InetSetFilePointer(HINTERNET file, LONG distance, PLONG distanceHigh, DWORD moveMethod, DWORD_PTR context);

bool InternetConnected();

// The announced length of an open URL, -1 when there is none.
int32_t QueryContentLength(HINTERNET url);
// Last-Modified as a packed DOS date-time (date high, time low), 0 when the
// header is missing or cannot be converted.
uint32_t QueryLastModified(HINTERNET url);
// The status code of an open URL, 0 when unknown.
int32_t QueryStatusCode(HINTERNET url);

// Announced length of Url, -1 when it cannot be opened or announces none.
int32_t HttpGetContentLength(const std::string& url);

// Fetches Url into TargetFile (through its partial file, resuming what an
// earlier run left) or, with an empty TargetFile, into Content. Success is an
// empty ErrorText; a transfer that ends short of the announced length fails
// (the partial file keeps what arrived, Content is emptied). Window, when
// given, is shown once the server has answered; Progress may be null.
void HttpDownload(HWND window, const std::string& url, const std::string& targetFile, std::string& errorText,
                  DownloadProgressProc progress, std::string& content);

// The rate text over the process-wide windows, at the system's tick count.
void FormatTransferRate(bool first, int64_t total, int64_t done, int32_t lastRead, std::string& text);

// Result = Default; Content is replaced by the first 10000 bytes of File when
// File names an existing file; then the 404 text with Url when it holds an
// HTML title.
void DetectErrorPage(const std::string& file, std::string content, const std::string& url, std::string& result,
                     const std::string& def);
