// Test kit: runs the internet unit's calls once and prints what they gave as
// one JSON line, so that tests can check downloads against a real server.
//
//   http_probe --url=URL [--target=PATH] [--content-out=PATH] [--abort-at=N]
//   http_probe --size --url=URL
//   http_probe --connected [--unbind-first]
//
// Download (the default): HttpDownload into PATH, or into memory when no
// --target is given (--content-out then saves what arrived). --abort-at sets
// the abort flag from the progress procedure once N bytes are in.
// The report: {"error", "content_size", "setup": [low, range, position, step],
// "steps", "first_text", "last_text", "target_size" (-1: no file)}.
// --size prints {"length": N}; --connected prints {"connected": true|false}.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msgbox_json.h"
#include "net/InetHTTPWin.h"
#include "util/UtilsWin.h"

namespace {

int64_t g_abortAt = -1;
int g_setup[4] = {-1, -1, -1, -1};
int g_setupCalls = 0;
long long g_steps = 0;
std::string g_firstText, g_lastText;

void Progress(int kind, int low, int range, int position, int step, const std::string& text) {
  if (kind == 0) {
    ++g_setupCalls;
    g_setup[0] = low;
    g_setup[1] = range;
    g_setup[2] = position;
    g_setup[3] = step;
    g_firstText = text;
  } else {
    ++g_steps;
  }
  g_lastText = text;
  // The text starts with the bytes done so far.
  if (g_abortAt >= 0 && strtoll(text.c_str(), nullptr, 10) >= g_abortAt) SetDownloadAbort(true);
}

std::string Arg(const char* name, int argc, char** argv) {
  const size_t n = strlen(name);
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], name, n) == 0) return argv[i] + n;
  return std::string();
}

bool Flag(const char* name, int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], name) == 0) return true;
  return false;
}

long long SizeOfFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string url = Arg("--url=", argc, argv);
  if (Flag("--connected", argc, argv)) {
    if (Flag("--unbind-first", argc, argv)) UnbindWinInet();
    JsonLine("{\"connected\": " + JsonBool(InternetConnected()) + "}");
    return 0;
  }
  if (Flag("--size", argc, argv)) {
    JsonLine("{\"length\": " + JsonInt(HttpGetContentLength(url)) + "}");
    return 0;
  }
  const std::string target = Arg("--target=", argc, argv);
  const std::string abortAt = Arg("--abort-at=", argc, argv);
  if (!abortAt.empty()) g_abortAt = strtoll(abortAt.c_str(), nullptr, 10);
  std::string error, content;
  SetDownloadAbort(false);
  HttpDownload(nullptr, url, target, error, Progress, content);
  const std::string contentOut = Arg("--content-out=", argc, argv);
  if (!contentOut.empty()) {
    FILE* f = fopen(contentOut.c_str(), "wb");
    if (f) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
  }
  std::string setup = "[" + JsonInt(g_setup[0]) + ", " + JsonInt(g_setup[1]) + ", " + JsonInt(g_setup[2]) + ", " +
                      JsonInt(g_setup[3]) + "]";
  JsonLine("{\"error\": " + JsonText(error) + ", \"content_size\": " + JsonInt((long long)content.size()) +
           ", \"setup_calls\": " + JsonInt(g_setupCalls) + ", \"setup\": " + setup +
           ", \"steps\": " + JsonInt(g_steps) + ", \"first_text\": " + JsonText(g_firstText) +
           ", \"last_text\": " + JsonText(g_lastText) +
           ", \"target_size\": " + JsonInt(target.empty() ? -1 : SizeOfFile(target)) + "}");
  UnbindWinInet();
  return 0;
}
