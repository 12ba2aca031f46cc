// Test kit: a notification target, the window a controlling program registers
// with the update agent. It logs every message it receives.
//
//   notify_target.exe LOG [--timeout S]
//
// LOG          lines are appended as things happen (shared reading, every line
//              written at once):
//                READY <window handle in decimal>
//                MSG <message> <wParam> <lParam>     (decimal; lParam signed)
//              for every message that reaches the window procedure or is
//              posted to the thread, system messages included, so a test
//              filters by the message number it registered.
// --timeout S  ends by itself after S seconds (default 120), so that a failed
//              test leaves no process
//
// Ends on WM_CLOSE. Exit code 0; 2 for a bad command line, 3 when it cannot
// start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
const UINT_PTR kTimeoutTimer = 1;

void Log(const std::string& line) {
  const std::string text = line + "\r\n";
  DWORD written;
  WriteFile(g_log, text.data(), DWORD(text.size()), &written, nullptr);
}

void LogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "MSG %u %llu %lld", message, static_cast<unsigned long long>(wParam),
                static_cast<long long>(lParam));
  Log(buf);
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LogMessage(message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimeoutTimer) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  int timeout = 120;
  if (argc == 4 && std::string(argv[2]) == "--timeout") timeout = std::atoi(argv[3]);
  else if (argc != 2) {
    std::fprintf(stderr, "usage: notify_target LOG [--timeout S]\n");
    return 2;
  }
  if (timeout <= 0) return 2;
  g_log = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_log == INVALID_HANDLE_VALUE) return 3;

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = TargetProc;
  wc.hInstance = instance;
  wc.lpszClassName = "KorvanNotifyTarget";
  if (!RegisterClassA(&wc)) return 3;
  // A hidden top-level window: posted messages reach it like any other.
  HWND window = CreateWindowA("KorvanNotifyTarget", "Korvan notify target", WS_OVERLAPPED, 0, 0, 100, 100,
                              nullptr, nullptr, instance, nullptr);
  if (!window) return 3;
  SetTimer(window, kTimeoutTimer, UINT(timeout) * 1000, nullptr);
  Log("READY " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window))));

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    // Thread messages have no window procedure to log them.
    if (!msg.hwnd) LogMessage(msg.message, msg.wParam, msg.lParam);
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  CloseHandle(g_log);
  return 0;
}
