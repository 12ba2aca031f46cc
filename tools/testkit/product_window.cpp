// Test kit: a product program with a main window, for the process finder and
// the ways of stopping a product. It logs what reached it and ends the way a
// real program ends.
//
//   product_window.exe LOG [options]
//
// LOG               (without any argument: the program's own path + ".log",
//                   as when the update agent restarts the product)
//                   lines are appended as things happen (the file is opened
//                   for shared reading and every line is written at once):
//                     READY <pid> <main window handle in hex>
//                     WM_CLOSE <wParam> <lParam>      (decimal)
//                     WM_QUIT <wParam> <lParam>       (decimal; also the
//                                                      program's own quit
//                                                      after WM_CLOSE)
//                     EXIT <code>
// --title TEXT      title of the main window (default "Korvan product")
// --dialogs N       N visible, titled popups owned by the main window
//                   (default 0, at most 50)
// --untitled        the main window and the popups have no title
// --invisible       the main window and the popups are never shown
// --no-ime          no "Default IME" window: the system adds that hidden,
//                   titled window to every program with a window, so only
//                   without it are all of a program's windows untitled
// --ignore-close    WM_CLOSE is logged and otherwise ignored, so that only
//                   termination ends the program
// --exit-code N     exit code after WM_CLOSE (default 7)
// --timeout S       ends by itself after S seconds with exit code 99
//                   (default 120), so that a failed test leaves no process
//
// A posted WM_QUIT ends the message loop; its wParam is the exit code, as in
// any program built on GetMessage. Exit code 2: bad command line; 3: the
// window could not be made.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
bool g_ignoreClose = false;
int g_exitCode = 7;
HWND g_main = nullptr;
const UINT_PTR kTimeoutTimer = 1;

void Log(const std::string& line) {
  const std::string text = line + "\r\n";
  DWORD written;
  WriteFile(g_log, text.data(), DWORD(text.size()), &written, nullptr);
}

std::string Decimal(unsigned long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu", value);
  return buf;
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      Log("WM_CLOSE " + Decimal(wParam) + " " + Decimal(static_cast<unsigned long long>(lParam)));
      if (!g_ignoreClose) DestroyWindow(window);
      return 0;
    case WM_TIMER:
      if (wParam == kTimeoutTimer) {
        Log("TIMEOUT");
        g_exitCode = 99;
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      if (window == g_main) PostQuitMessage(g_exitCode);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool ParseInt(const char* text, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!end || *end != '\0' || end == text) return false;
  out = int(value);
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: product_window LOG [--title TEXT] [--dialogs N] [--untitled]"
               " [--invisible] [--no-ime] [--ignore-close] [--exit-code N] [--timeout S]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string logPath;
  if (argc < 2) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 3;
    logPath = std::string(self, n) + ".log";
  } else {
    logPath = argv[1];
  }
  std::string title = "Korvan product";
  int dialogs = 0, timeout = 120;
  bool untitled = false, invisible = false, noIme = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--title" && hasValue) title = argv[++i];
    else if (arg == "--dialogs" && hasValue && ParseInt(argv[i + 1], dialogs)) ++i;
    else if (arg == "--exit-code" && hasValue && ParseInt(argv[i + 1], g_exitCode)) ++i;
    else if (arg == "--timeout" && hasValue && ParseInt(argv[i + 1], timeout)) ++i;
    else if (arg == "--untitled") untitled = true;
    else if (arg == "--invisible") invisible = true;
    else if (arg == "--no-ime") noIme = true;
    else if (arg == "--ignore-close") g_ignoreClose = true;
    else return Usage();
  }
  if (dialogs < 0 || dialogs > 50 || timeout <= 0) return Usage();

  g_log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_log == INVALID_HANDLE_VALUE) return 3;

  if (noIme) {
    // For the whole process, before the first window; bound by name so the
    // kit needs no import library for it.
    typedef BOOL(WINAPI * DisableImeFn)(DWORD);
    const FARPROC proc = GetProcAddress(LoadLibraryA("imm32.dll"), "ImmDisableIME");
    if (!proc || !reinterpret_cast<DisableImeFn>(reinterpret_cast<void (*)()>(proc))(DWORD(-1))) return 3;
  }

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
  wc.lpszClassName = "KorvanProductWindow";
  if (!RegisterClassA(&wc)) return 3;

  const char* caption = untitled ? "" : title.c_str();
  g_main = CreateWindowA("KorvanProductWindow", caption, WS_OVERLAPPEDWINDOW, 40, 40, 320, 200,
                         nullptr, nullptr, instance, nullptr);
  if (!g_main) return 3;
  for (int i = 0; i < dialogs; ++i) {
    const std::string dialogTitle = untitled ? "" : title + " dialog " + Decimal(unsigned(i + 1));
    // An owned popup, as a program's modeless dialogs and tool windows are.
    HWND dialog = CreateWindowA("KorvanProductWindow", dialogTitle.c_str(), WS_POPUP | WS_CAPTION,
                                80 + 20 * i, 80 + 20 * i, 200, 100, g_main, nullptr, instance, nullptr);
    if (!dialog) return 3;
    if (!invisible) ShowWindow(dialog, SW_SHOWNOACTIVATE);
  }
  if (!invisible) {
    ShowWindow(g_main, SW_SHOWNORMAL);
    UpdateWindow(g_main);
  }
  SetTimer(g_main, kTimeoutTimer, UINT(timeout) * 1000u, nullptr);

  char handle[32];
  std::snprintf(handle, sizeof handle, "%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(g_main)));
  Log("READY " + Decimal(GetCurrentProcessId()) + " " + handle);

  MSG msg;
  int code = g_exitCode;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      Log("WM_QUIT " + Decimal(msg.wParam) + " " + Decimal(static_cast<unsigned long long>(msg.lParam)));
      code = int(msg.wParam);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Log("EXIT " + Decimal(unsigned(code)));
  CloseHandle(g_log);
  return code;
}
