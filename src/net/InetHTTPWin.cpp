#include "net/InetHTTPWin.h"

#include <cstring>

#include "package/PackIO.h"
#include "paths/Files.h"
#include "util/UtilsWin.h"

namespace {

// The library is held here, not through GetProcAddressOf, which keeps what it
// loads for the life of the process: the stub window releases this one when
// its loop ends.
HMODULE g_wininet = nullptr;

FARPROC g_getConnectedState = nullptr;
FARPROC g_closeHandle = nullptr;
FARPROC g_open = nullptr;
FARPROC g_openUrl = nullptr;
FARPROC g_queryInfo = nullptr;
FARPROC g_readFile = nullptr;
FARPROC g_setFilePointer = nullptr;

typedef BOOL(WINAPI* GetConnectedStateFn)(LPDWORD, DWORD);
typedef BOOL(WINAPI* CloseHandleFn)(HINTERNET);
typedef HINTERNET(WINAPI* OpenFn)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
typedef HINTERNET(WINAPI* OpenUrlFn)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
typedef BOOL(WINAPI* QueryInfoFn)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
typedef BOOL(WINAPI* ReadFileFn)(HINTERNET, LPVOID, DWORD, LPDWORD);
typedef DWORD(WINAPI* SetFilePointerFn)(HINTERNET, LONG, PLONG, DWORD, DWORD_PTR);

template <typename Fn>
Fn Bound(FARPROC& slot, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(BindWinInetProc(slot, name)));
}

// Closes its internet handle on every way out.
class TInternetHandle {
 public:
  TInternetHandle() = default;
  explicit TInternetHandle(HINTERNET h) : h_(h) {}
  ~TInternetHandle() { reset(); }
  TInternetHandle(const TInternetHandle&) = delete;
  TInternetHandle& operator=(const TInternetHandle&) = delete;
  HINTERNET get() const { return h_; }
  bool ok() const { return h_ != nullptr; }
  void reset(HINTERNET h = nullptr) {
    if (h_) InetCloseHandle(h_);
    h_ = h;
  }

 private:
  HINTERNET h_ = nullptr;
};

TRateWindow g_rate;

std::string QueryText(HINTERNET url, DWORD level) {
  char buffer[256];
  DWORD length = sizeof(buffer) - 1;
  DWORD index = 0;
  if (!InetHttpQueryInfoA(url, level, buffer, &length, &index)) return std::string();
  if (length >= sizeof(buffer)) length = sizeof(buffer) - 1;
  return std::string(buffer, length);
}

HINTERNET OpenUrl(HINTERNET internet, const std::string& url, const std::string& headers, DWORD flags) {
  return InetOpenUrlA(internet, url.c_str(), headers.empty() ? nullptr : headers.c_str(), DWORD(headers.size()),
                      flags, 0);
}

// Empties the partial file; false when it cannot be written.
bool EmptyFile(const std::string& path) { return WriteFileText(path, std::string()); }

// Deletes the partial files that another version of the target left.
void DeletePartialFiles(const std::string& target) {
  const std::string name = FilePartOf(target);
  const std::string folder = target.substr(0, target.size() - name.size());
  const std::string mask = target + ".*";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(mask.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsPartialFileOf(name, data.cFileName)) continue;
    const std::string path = folder + data.cFileName;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

}  // namespace

FARPROC BindWinInetProc(FARPROC& slot, const char* procName) {
  if (slot) return slot;
  if (!g_wininet) g_wininet = LoadSystemLibrary("WinINet.dll");
  if (!g_wininet) return nullptr;
  slot = GetProcAddress(g_wininet, procName);
  return slot;
}

void UnbindWinInet() {
  if (g_wininet) FreeLibrary(g_wininet);
  g_wininet = nullptr;
  g_getConnectedState = g_closeHandle = g_open = g_openUrl = nullptr;
  g_queryInfo = g_readFile = g_setFilePointer = nullptr;
}

BOOL InetGetConnectedState(LPDWORD flags, DWORD reserved) {
  GetConnectedStateFn fn = Bound<GetConnectedStateFn>(g_getConnectedState, "InternetGetConnectedState");
  return fn ? fn(flags, reserved) : FALSE;
}

BOOL InetCloseHandle(HINTERNET handle) {
  CloseHandleFn fn = Bound<CloseHandleFn>(g_closeHandle, "InternetCloseHandle");
  return fn ? fn(handle) : FALSE;
}

HINTERNET InetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags) {
  OpenFn fn = Bound<OpenFn>(g_open, "InternetOpenA");
  return fn ? fn(agent, accessType, proxy, proxyBypass, flags) : nullptr;
}

HINTERNET InetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                       DWORD_PTR context) {
  OpenUrlFn fn = Bound<OpenUrlFn>(g_openUrl, "InternetOpenUrlA");
  return fn ? fn(internet, url, headers, headersLength, flags, context) : nullptr;
}

BOOL InetHttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) {
  QueryInfoFn fn = Bound<QueryInfoFn>(g_queryInfo, "HttpQueryInfoA");
  return fn ? fn(request, infoLevel, buffer, bufferLength, index) : FALSE;
}

BOOL InetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read) {
  ReadFileFn fn = Bound<ReadFileFn>(g_readFile, "InternetReadFile");
  return fn ? fn(file, buffer, toRead, read) : FALSE;
}

DWORD InetSetFilePointer(HINTERNET file, LONG distance, PLONG distanceHigh, DWORD moveMethod, DWORD_PTR context) {
  SetFilePointerFn fn = Bound<SetFilePointerFn>(g_setFilePointer, "InternetSetFilePointer");
  return fn ? fn(file, distance, distanceHigh, moveMethod, context) : 0;
}

bool InternetConnected() {
  DWORD flags = 7;
  return InetGetConnectedState(&flags, 0) != FALSE;
}

int32_t QueryContentLength(HINTERNET url) {
  int32_t value = -1;
  DWORD length = sizeof(value);
  DWORD index = 0;
  if (!InetHttpQueryInfoA(url, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &length, &index))
    return -1;
  return value;
}

uint32_t QueryLastModified(HINTERNET url) {
  SYSTEMTIME time;
  std::memset(&time, 0, sizeof(time));
  DWORD length = sizeof(time);
  DWORD index = 0;
  InetHttpQueryInfoA(url, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &time, &length, &index);
  FILETIME fileTime;
  WORD date = 0, clock = 0;
  if (!SystemTimeToFileTime(&time, &fileTime) || !FileTimeToDosDateTime(&fileTime, &date, &clock)) return 0;
  return uint32_t(date) << 16 | clock;
}

int32_t QueryStatusCode(HINTERNET url) {
  DWORD value = 0;
  DWORD length = sizeof(value);
  DWORD index = 0;
  if (!InetHttpQueryInfoA(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, &index)) return 0;
  return int32_t(value);
}

int32_t HttpGetContentLength(const std::string& url) {
  TInternetHandle internet(InetOpenA("HTTP_Connect_2", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet.ok()) return -1;
  TInternetHandle request(OpenUrl(internet.get(), url, std::string(), 0));
  if (!request.ok()) return -1;
  return QueryContentLength(request.get());
}

void FormatTransferRate(bool first, int64_t total, int64_t done, int32_t lastRead, std::string& text) {
  FormatTransferRateAt(g_rate, GetTickCount(), first, total, done, lastRead, text);
}

void DetectErrorPage(const std::string& file, std::string content, const std::string& url, std::string& result,
                     const std::string& def) {
  if (!file.empty() && FileExists(file)) content = ReadFileRange(file, 0, 10000);
  DetectErrorPageIn(content, url, result, def);
}

void HttpDownload(HWND window, const std::string& url, const std::string& targetFile, std::string& errorText,
                  DownloadProgressProc progress, std::string& content) {
  DelayWithMessages(100);
  errorText.clear();
  content.clear();
  const bool toFile = !targetFile.empty();
  int64_t done = 0;

  TInternetHandle internet(InetOpenA("HTTP_Connect_3", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet.ok()) {
    errorText = kTextWinInetMissing;
    return;
  }
  const DWORD flags = toFile ? INTERNET_FLAG_RESYNCHRONIZE : INTERNET_FLAG_RELOAD;
  TInternetHandle request(OpenUrl(internet.get(), url, std::string(), flags));
  if (!request.ok()) {
    errorText = kTextUnableToOpen + url;
    return;
  }
  const int32_t total = QueryContentLength(request.get());
  const uint32_t stamp = QueryLastModified(request.get());
  if (total <= 0) {
    errorText = FileNotFoundText(url);
    return;
  }
  if (window) ShowWindow(window, SW_SHOW);

  std::string partial;
  if (toFile) {
    partial = PartialFileName(targetFile, total, stamp);
    if (FileExists(partial)) {
      done = FileSizeOf(partial);
      if (done > total) {
        // Not the file the name stands for: start over.
        if (!EmptyFile(partial)) {
          errorText = WriteFailedText(partial);
          return;
        }
        done = 0;
      } else if (done > 0 && done < total) {
        // Resume. Positioning the open transfer works only where the library
        // keeps the file (Windows' cache); Wine's does nothing and fails, and
        // uncached HTTP may fail on Windows too. Then the rest is asked for
        // with a Range request, taken only as a 206 that starts where the
        // partial file ends; anything else restarts from 0, so no byte is ever
        // appended at a wrong offset.
        if (InetSetFilePointer(request.get(), LONG(done), nullptr, FILE_BEGIN, 0) != DWORD(done)) {
          request.reset();
          request.reset(OpenUrl(internet.get(), url, RangeRequestHeader(done), flags));
          if (!request.ok()) {
            errorText = kTextUnableToOpen + url;
            return;
          }
          const int32_t status = QueryStatusCode(request.get());
          if (!RangeAnswerContinues(status, QueryText(request.get(), HTTP_QUERY_CONTENT_RANGE), done, total)) {
            if (!EmptyFile(partial)) {
              errorText = WriteFailedText(partial);
              return;
            }
            done = 0;
            // A server that ignores Range sends the whole file again: take it
            // when it is still the same one, else ask once more without Range.
            if (!(status == 200 && QueryContentLength(request.get()) == total &&
                  QueryLastModified(request.get()) == stamp)) {
              request.reset();
              request.reset(OpenUrl(internet.get(), url, std::string(), flags));
              if (!request.ok()) {
                errorText = kTextUnableToOpen + url;
                return;
              }
              if (QueryContentLength(request.get()) != total || QueryLastModified(request.get()) != stamp) {
                // The file changed between the two requests.
                errorText = kTextUnableToOpen + url;
                return;
              }
            }
          }
        }
      }
    } else {
      DeletePartialFiles(targetFile);
    }
  }

  const int32_t block = DownloadBlockSize(total);
  std::string rate;
  FormatTransferRate(true, total, done, 0, rate);
  TDownloadProgress bar;
  bar.Start(total, done, block);
  if (progress) progress(0, 0, bar.range, bar.position, 1, rate);

  static char buffer[kMaxBlock];
  bool writeFailed = false;
  while (done < total) {
    DelayWithMessages(2);
    std::memset(buffer, 0, sizeof(buffer));
    DWORD want = DWORD(block);
    if (int64_t(want) > total - done) want = DWORD(total - done);
    DWORD read = 0;
    const bool ok = InetReadFile(request.get(), buffer, want, &read) != FALSE;
    if (!ok || read > want) read = 0;
    if (read > 0) {
      if (toFile) {
        if (!AppendToFile(partial, std::string(buffer, read))) {
          // What stands in the file is still a prefix of the transfer; its
          // size is where a later run resumes.
          writeFailed = true;
          break;
        }
      } else {
        content.append(buffer, read);
      }
      done += read;
    }
    FormatTransferRate(false, total, done, int32_t(read), rate);
    if (ok && read > 0 && progress) {
      for (int32_t steps = bar.OnBlock(); steps > 0; --steps) progress(1, 0, 0, 0, 0, rate);
    }
    if (read == 0 || DownloadAborted()) break;
  }

  if (writeFailed) {
    errorText = WriteFailedText(partial);
  } else if (done < total) {
    errorText = DownloadAborted() ? std::string(kTextDownloadAborted) : IncompleteDownloadText(url, done, total);
  }
  if (!errorText.empty()) {
    content.clear();
    return;
  }
  if (toFile && FileSizeOf(partial) == uint32_t(total)) {
    DeleteFileA(targetFile.c_str());
    if (!MoveFileA(partial.c_str(), targetFile.c_str())) errorText = WriteFailedText(targetFile);
  } else if (toFile) {
    errorText = WriteFailedText(partial);
  }
}
