// Test kit: a debug viewer. Receives the trace chunks that programs send to
// a window of class ".KDebug." and writes them down, in order of arrival.
//
//   debug_viewer.exe OUTPUT [TIMEOUT_SECONDS]
//
// OUTPUT          every chunk's text, appended as it arrives (what a developer
//                 watching the trace would read)
// OUTPUT.chunks   one line per chunk: the atom number, a blank, the text with
//                 CR, LF and backslash written as \r, \n and \\ (two backslashes)
// OUTPUT.ready    created once the window exists and the files are open
//
// Ends on WM_CLOSE, when OUTPUT.stop appears, or after TIMEOUT_SECONDS
// (default 120). Exit code 0; 2 for a bad command line, 3 when it cannot
// start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

UINT g_channelMessage = 0;
HANDLE g_text = INVALID_HANDLE_VALUE;
HANDLE g_chunks = INVALID_HANDLE_VALUE;
std::string g_stopFile;
DWORD g_deadline = 0;

void Append(HANDLE file, const std::string& data) {
  DWORD written;
  WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
}

std::string Escaped(const char* text, int len) {
  std::string out;
  for (int i = 0; i < len; ++i) {
    if (text[i] == '\r') out += "\\r";
    else if (text[i] == '\n') out += "\\n";
    else if (text[i] == '\\') out += "\\\\";
    else out += text[i];
  }
  return out;
}

HANDLE CreateShared(const std::string& path) {
  // Readers may open the files while the viewer still writes them.
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_channelMessage && g_channelMessage != 0) {
    // The atom lives only while the sender waits for this message.
    char text[256];
    const ATOM atom = ATOM(lParam);
    const int len = int(GlobalGetAtomNameA(atom, text, sizeof(text)));
    Append(g_text, std::string(text, len));
    char number[16];
    std::snprintf(number, sizeof(number), "%u ", unsigned(atom));
    Append(g_chunks, number + Escaped(text, len) + "\r\n");
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (GetFileAttributesA(g_stopFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
          LONG(GetTickCount() - g_deadline) >= 0)
        DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: debug_viewer OUTPUT [TIMEOUT_SECONDS]\n");
    return 2;
  }
  const std::string output = argv[1];
  const long timeoutSeconds = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 120;
  g_stopFile = output + ".stop";
  g_deadline = GetTickCount() + DWORD(timeoutSeconds > 0 ? timeoutSeconds : 120) * 1000;
  DeleteFileA(g_stopFile.c_str());

  g_channelMessage = RegisterWindowMessageA(".K_DebugMsg.");
  g_text = CreateShared(output);
  g_chunks = CreateShared(output + ".chunks");
  if (g_channelMessage == 0 || g_text == INVALID_HANDLE_VALUE || g_chunks == INVALID_HANDLE_VALUE) return 3;

  WNDCLASSA wc = {};
  wc.lpfnWndProc = ViewerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = ".KDebug.";
  if (!RegisterClassA(&wc)) return 3;
  // Never shown: the senders find it by its class alone.
  HWND window = CreateWindowA(".KDebug.", "Korvan debug viewer", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (!window) return 3;
  SetTimer(window, 1, 100, nullptr);

  HANDLE ready = CreateShared(output + ".ready");
  if (ready == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(ready);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  CloseHandle(g_text);
  CloseHandle(g_chunks);
  return 0;
}
