#include "stub/StubWin.h"

#include <commctrl.h>

#include "net/InetHTTP.h"
#include "package/UnPackWin.h"
#include "paths/Files.h"
#include "settings/Global.h"
#include "settings/GlobalWin.h"
#include "stub/AgentState.h"
#include "stub/StubMain.h"
#include "util/UtilsWin.h"

HWND StubWindow = nullptr;
HWND StatusLabel = nullptr;
HWND ProgressBar = nullptr;

namespace {

HWND g_notifyWindow = nullptr;
UINT g_notifyMessage = 0;
HFONT g_labelFont = nullptr;
const UINT_PTR kTimerId = 1;

void CreateControls(HWND parent) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  StatusLabel = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 70, 20, 340, 18, parent, nullptr,
                                instance, nullptr);
  ProgressBar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE, 70, 38, 340, 13, parent,
                                nullptr, instance, nullptr);
  SetTimer(parent, kTimerId, 1000, nullptr);
  g_labelFont = CreateFontA(13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Tahoma");
  SendMessageA(StatusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(g_labelFont), 0);
}

void PaintStubWindow(HWND window) {
  HDC dc = GetDC(window);
  if (!dc) return;
  RECT client;
  GetClientRect(window, &client);
  HBRUSH face = CreateSolidBrush(SystemColorOf(kColorBtnFace));
  FillRect(dc, &client, face);
  DeleteObject(face);
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MainIcon");
  if (icon) DrawIcon(dc, 18, 20, icon);
  ReleaseDC(window, dc);
}

LRESULT CALLBACK StubWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateControls(window);
      break;
    case WM_DESTROY:
      // The run ends with the window: an extraction under way stops instead
      // of writing into (or re-creating) the folder deleted here.
      DownloadAbort = 1;
      StopExtraction();
      DeleteTree(WorkingFolder(), false);
      PostQuitMessage(0);
      break;
    case WM_PAINT:
      PaintStubWindow(window);
      break;
    case WM_CLOSE:
      // The first close request only stops a running download; the second
      // one closes the window.
      if (!DownloadAbort) {
        DownloadAbort = 1;
        return 0;
      }
      break;
    case WM_TIMER:
      if (ThisIs_AutoUpdateProg) {
        AgentTick();
      } else {
        StubStep(window);
      }
      break;
    case kMsgTicksToLive:
      TicksToLive = int64_t(wParam);
      break;
    case kMsgSetNotify:
      g_notifyWindow = reinterpret_cast<HWND>(wParam);
      g_notifyMessage = UINT(lParam);
      PostToNotifyWindow(50, reinterpret_cast<LPARAM>(window));
      PostToNotifyWindow(51, kMsgQuery);
      break;
    case kMsgQuery:
      return AnswerQuery(wParam, lParam);
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void ProgressCallback(int kind, int zero, int rangeMax, int position, int step, const std::string&) {
  if (kind == 0) {
    SendMessageA(ProgressBar, PBM_SETRANGE, WPARAM(zero), LPARAM(uint32_t(rangeMax & 0xFFFF) << 16));
    SendMessageA(ProgressBar, PBM_SETPOS, WPARAM(position), 0);
    SendMessageA(ProgressBar, PBM_SETSTEP, WPARAM(step), 0);
  } else if (kind == 1) {
    SendMessageA(ProgressBar, PBM_STEPIT, 0, 0);
  }
}

void PostToNotifyWindow(WPARAM wParam, LPARAM lParam) {
  if (g_notifyWindow && g_notifyMessage) PostMessageA(g_notifyWindow, g_notifyMessage, wParam, lParam);
}

void RunStubWindow() {
  int64_t sleep = SwitchInt("/SleepX=", -1);
  if (sleep >= 0) AutoUpdateTimerCount = -sleep;
  InitCommonControls();

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = StubWndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "MainIcon");
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = StubClassName.c_str();
  RegisterClassA(&wc);

  std::string caption = TGFileInfo(ExePath()).LangText("s0", "Korvan Installation Suite");
  int left = (GetSystemMetrics(SM_CXSCREEN) - 440) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - 110) / 2;
  StubWindow = CreateWindowExA(0, StubClassName.c_str(), caption.c_str(), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                               left, top, 440, 110, nullptr, nullptr, instance, nullptr);
  if (StubWindow) {
    ShowWindow(StubWindow, SW_HIDE);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  KillTimer(StubWindow, kTimerId);
  DownloadAbort = 1;
  UnbindWinInet();
  PostToNotifyWindow(43, 0);
  if (g_labelFont) DeleteObject(g_labelFont);
}

int32_t AnswerQuery(WPARAM code, LPARAM value) {
  int32_t v = int32_t(value);
  switch (code) {
    case 4: return VersionOriginal();
    case 5: return VersionNew();
    case 7: return AgentStage;
    case 8: return int32_t(ProbeSecondsInterval());
    case 9: return int32_t(ReAskSecondsInterval());
    case 10: return int32_t(ProbeSecondsLast());
    case 11: return int32_t(ReAskSecondsLast());
    case 12: SetProbeSecondsInterval(int64_t(v)); return 0;
    case 13: SetReAskSecondsInterval(int64_t(v)); return 0;
    case 14: SetProbeSecondsLast(int64_t(v)); return 0;
    case 15: SetReAskSecondsLast(int64_t(v)); return 0;
    case 20: case 21: case 22: case 23: case 24: case 25:
      SetOverride(int(code) - 19, uint8_t(value));
      return 0;
    case 30: TicksToLive = int64_t(v); return 0;
    case 31:
      CheckNow = true;
      if (v == 2) ManualMode = 2;
      return 0;
    default:
      return 0;
  }
}
