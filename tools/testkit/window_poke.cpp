// Test kit: finds a top-level window by class (and title) and sends or posts
// it messages, as another program on the desktop would.
//
//   window_poke --class=NAME [--title=TEXT] [--child=CLASS] [--timeout=SECONDS] STEP...
//
// --child sends the steps' messages to the window's first child of that
// class instead (e.g. msctls_progress32, to read a progress bar's position).
//
// --timeout bounds the wait for the window (default 30) and for wait-gone.
// Steps, in order:
//   post:MSG[:WPARAM[:LPARAM]]   PostMessage (numbers in decimal or 0x hex)
//   send:MSG[:WPARAM[:LPARAM]]   SendMessageTimeout; prints "send MSG = RESULT"
//   sleep:MS                     wait
//   wait-gone                    wait until the window no longer exists
//   visible                      prints "visible 1" or "visible 0" (the
//                                top-level window)
//   hold:PATH                    wait until the file PATH exists (the test
//                                says when the moment has come)
// The window's handle is printed first as "found 0x...". Exit code 0 when
// every step was done, 1 when the window never came or a step failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

unsigned long long Number(const std::string& text) { return strtoull(text.c_str(), nullptr, 0); }

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(':', from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string cls, title, child;
  bool haveTitle = false;
  DWORD timeoutMs = 30000;
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--class=", 8) == 0) {
      cls = argv[i] + 8;
    } else if (strncmp(argv[i], "--title=", 8) == 0) {
      title = argv[i] + 8;
      haveTitle = true;
    } else if (strncmp(argv[i], "--child=", 8) == 0) {
      child = argv[i] + 8;
    } else if (strncmp(argv[i], "--timeout=", 10) == 0) {
      timeoutMs = DWORD(atof(argv[i] + 10) * 1000);
    } else {
      steps.push_back(argv[i]);
    }
  }
  if (cls.empty()) {
    fprintf(stderr, "window_poke: --class=NAME is required\n");
    return 2;
  }
  HWND window = nullptr;
  const DWORD start = GetTickCount();
  while (!(window = FindWindowA(cls.c_str(), haveTitle ? title.c_str() : nullptr))) {
    if (GetTickCount() - start > timeoutMs) {
      printf("{\"error\": \"no window of that class\"}\n");
      return 1;
    }
    Sleep(50);
  }
  printf("found 0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
  fflush(stdout);
  const HWND top = window;
  if (!child.empty()) {
    window = FindWindowExA(top, nullptr, child.c_str(), nullptr);
    if (!window) {
      printf("{\"error\": \"no child of that class\"}\n");
      return 1;
    }
  }
  for (const std::string& step : steps) {
    std::vector<std::string> p = Split(step);
    const std::string& verb = p[0];
    if (verb == "post" || verb == "send") {
      if (p.size() < 2) return 2;
      UINT msg = UINT(Number(p[1]));
      WPARAM w = p.size() > 2 ? WPARAM(Number(p[2])) : 0;
      LPARAM l = p.size() > 3 ? LPARAM(Number(p[3])) : 0;
      if (verb == "post") {
        if (!PostMessageA(window, msg, w, l)) {
          printf("post %u failed\n", msg);
          return 1;
        }
      } else {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, msg, w, l, SMTO_NORMAL, timeoutMs, &result)) {
          printf("send %u failed\n", msg);
          return 1;
        }
        printf("send %u = %lld\n", msg, static_cast<long long>(static_cast<LONG_PTR>(result)));
      }
    } else if (verb == "sleep") {
      Sleep(DWORD(Number(p.size() > 1 ? p[1] : "0")));
    } else if (verb == "hold") {
      const std::string path = step.substr(5);
      const DWORD from = GetTickCount();
      while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - from > timeoutMs) {
          printf("hold file never came\n");
          return 1;
        }
        Sleep(20);
      }
    } else if (verb == "visible") {
      printf("visible %d\n", IsWindowVisible(top) ? 1 : 0);
    } else if (verb == "wait-gone") {
      const DWORD from = GetTickCount();
      while (IsWindow(window)) {
        if (GetTickCount() - from > timeoutMs) {
          printf("window still there\n");
          return 1;
        }
        Sleep(50);
      }
    } else {
      fprintf(stderr, "window_poke: unknown step %s\n", step.c_str());
      return 2;
    }
    fflush(stdout);
  }
  return 0;
}
