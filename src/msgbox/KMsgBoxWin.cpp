// KMsgBox: the "KMsgBox" window with its rich-text control, icon band,
// button bar and modal loop.
#include "msgbox/KMsgBox.h"

#include <richedit.h>

#include <vector>

#include "util/UtilsWin.h"

namespace {

const char kClassName[] = "KMsgBox";
const COLORREF kBandColour = RGB(0, 78, 152);
const int kTextControlId = 100;

// Everything one open box needs. It lives on the stack of the call that runs
// the box and the box window points at it, so a box opened from a timer while
// another one waits does not trample the first one's state.
struct BoxState {
  HFONT font = nullptr;
  HWND previousActive = nullptr;
  bool previousReleased = false;
  HWND box = nullptr;
  HWND text = nullptr;
  bool richText = false;
  int requestedWidth = 0;
  int requestedHeight = 0;
  int result = kIdClosed;
  bool chosen = false;
  HWND slots[kBoxSlots] = {nullptr, nullptr, nullptr};
  bool finished = false;
  HICON icon = nullptr;
  int focusSlot = -1;  // the button that has, or gets back, the focus
};

BoxState* g_current = nullptr;  // the innermost open box; its keys are filtered
std::string g_richEditLibrary = "RICHED32.DLL";

BoxState* StateOf(HWND window) {
  return reinterpret_cast<BoxState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

int SlotOf(const BoxState& s, HWND window) {
  if (!window) return -1;
  for (int k = 0; k < kBoxSlots; ++k)
    if (s.slots[k] == window) return k;
  return -1;
}

// Gives the window that was active back its input; safe to call twice.
void ReleasePrevious(BoxState& s) {
  if (s.previousReleased) return;
  s.previousReleased = true;
  if (!s.previousActive || !IsWindow(s.previousActive)) return;
  EnableWindow(s.previousActive, TRUE);
  SetActiveWindow(s.previousActive);
  SetFocus(s.previousActive);
}

void Choose(BoxState& s, int slot) {
  // The first choice stands: a second key or click queued behind it before
  // the box has closed must not change the answer.
  if (!s.chosen) {
    s.chosen = true;
    s.result = static_cast<int>(GetWindowLongPtrA(s.slots[slot], GWLP_USERDATA));
  }
  PostMessageA(s.box, WM_CLOSE, 0, 0);
}

void MakeDefault(BoxState& s, int slot) {
  if (slot < 0 || slot >= kBoxSlots) return;
  s.focusSlot = slot;
  if (s.slots[slot]) SetFocus(s.slots[slot]);
  for (int k = 0; k < kBoxSlots; ++k)
    if (s.slots[k]) SendMessageA(s.slots[k], BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  if (s.slots[slot]) SendMessageA(s.slots[slot], BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void FillRectColour(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT r = {left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void Paint(BoxState& s, HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT rc;
  GetClientRect(window, &rc);
  const int cw = rc.right;
  const int ch = rc.bottom;
  FillRectColour(dc, 0, 0, cw, ch, GetSysColor(COLOR_WINDOW));
  FillRectColour(dc, 0, ch - 37, cw, ch - 36, GetSysColor(COLOR_3DDKSHADOW));
  FillRectColour(dc, 0, ch - 36, cw, ch - 35, RGB(255, 255, 255));
  FillRectColour(dc, 0, ch - 35, cw, ch, GetSysColor(COLOR_BTNFACE));
  FillRectColour(dc, 0, 0, kBoxBandWidth, ch - 37, kBandColour);
  if (s.icon) DrawIcon(dc, 11, 20, s.icon);
  EndPaint(window, &ps);
}

LRESULT CALLBACK BoxProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return DefWindowProcA(window, msg, wParam, lParam);
  }
  BoxState* s = StateOf(window);
  if (!s) return DefWindowProcA(window, msg, wParam, lParam);
  switch (msg) {
    case WM_PAINT:
      Paint(*s, window);
      return 0;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr && hdr->code == EN_REQUESTRESIZE) {
        const REQRESIZE* req = reinterpret_cast<const REQRESIZE*>(lParam);
        s->requestedWidth = req->rc.right - req->rc.left;
        s->requestedHeight = req->rc.bottom - req->rc.top;
      }
      break;
    }
    case WM_COMMAND: {
      const int slot = SlotOf(*s, reinterpret_cast<HWND>(lParam));
      if (slot >= 0) {
        Choose(*s, slot);
        return 0;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
      // The stand-in edit control is read-only and would draw itself grey;
      // keep the white of the rich-text control it stands in for.
      if (reinterpret_cast<HWND>(lParam) == s->text) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_ACTIVATE:
      // The focus stays with the buttons, as in a dialog: a box that loses
      // the activation remembers its focused button and gives it the focus
      // again when it is activated. Wine activates a window shown on X only
      // once the X server has given it the input focus, after SetFocus in
      // the box's set-up may have found it inactive, so this is also what
      // gives the default button its first focus there.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const int slot = SlotOf(*s, GetFocus());
        if (slot >= 0) s->focusSlot = slot;
      } else if (s->focusSlot >= 0 && s->slots[s->focusSlot]) {
        SetFocus(s->slots[s->focusSlot]);
        return 0;
      }
      break;
    case WM_CLOSE:
      // Enabled and activated before the box goes, so the focus returns to
      // it and not to some other program's window.
      ReleasePrevious(*s);
      break;
    case WM_DESTROY:
      // Also reached when the owner goes away under the box: the previous
      // window must not stay disabled then either.
      ReleasePrevious(*s);
      if (s->font) DeleteObject(s->font);
      s->font = nullptr;
      s->finished = true;
      return 1;
    default:
      break;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

bool IsBoxMessage(const BoxState& s, HWND window) {
  return window && (window == s.box || IsChild(s.box, window));
}

// Sees each message of the modal loop first; true when it consumed it.
bool FilterKey(BoxState& s, const MSG& msg) {
  // Keys meant for other windows of the thread are theirs.
  if (!IsBoxMessage(s, msg.hwnd)) return false;
  bool exists[kBoxSlots];
  for (int k = 0; k < kBoxSlots; ++k) exists[k] = s.slots[k] != nullptr;
  if (msg.message == WM_SYSCHAR) {
    std::string captions[kBoxSlots];
    for (int k = 0; k < kBoxSlots; ++k) captions[k] = WindowTextOf(s.slots[k]);
    const int slot = BoxAltSlot(static_cast<char>(msg.wParam), captions, exists);
    if (slot < 0) return false;
    Choose(s, slot);
    return true;
  }
  if (msg.message != WM_KEYDOWN) return false;
  const int focus = SlotOf(s, GetFocus());
  switch (msg.wParam) {
    case VK_LEFT:
    case VK_UP:
      MakeDefault(s, BoxArrowSlot(focus, true, exists));
      return false;
    case VK_RIGHT:
    case VK_DOWN:
      MakeDefault(s, BoxArrowSlot(focus, false, exists));
      return false;
    case VK_RETURN:
      if (focus < 0) return false;
      Choose(s, focus);
      return true;
    default:
      return false;
  }
}

void ResizeText(HWND text, int width, int height) {
  SetWindowPos(text, nullptr, 0, 0, width, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BoxSize MeasureText(HWND text, HFONT font, const std::string& plain) {
  HDC dc = GetDC(text);
  HGDIOBJ old = SelectObject(dc, font);
  // The rich-text control sets tabs every half inch.
  const int tabStop = GetDeviceCaps(dc, LOGPIXELSX) / 2;
  std::vector<LineExtent> extents;
  for (const std::string& line : BoxMeasureLines(plain)) {
    LineExtent e = {0, 0};
    if (line.find('\t') == std::string::npos) {
      SIZE size = {0, 0};
      GetTextExtentPoint32A(dc, line.data(), static_cast<int>(line.size()), &size);
      e.width = size.cx;
      e.height = size.cy;
    } else {
      const DWORD ext = GetTabbedTextExtentA(dc, line.data(), static_cast<int>(line.size()),
                                             1, &tabStop);
      e.width = LOWORD(ext);
      e.height = HIWORD(ext);
    }
    extents.push_back(e);
  }
  SelectObject(dc, old);
  ReleaseDC(text, dc);
  return BoxTextBlock(extents);
}

// The text without mark-up, bold where marked, and the control sized to it.
void FillText(BoxState& s, const std::string& markup) {
  std::string plain = markup;
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(plain, starts, ends);
  if (s.richText) {
    // The rich-text control takes 32 K characters unless told otherwise.
    const LPARAM limit = static_cast<LPARAM>(plain.size() + 1 > 32767 ? plain.size() + 1 : 32767);
    SendMessageA(s.text, EM_EXLIMITTEXT, 0, limit);
  }
  SetWindowTextA(s.text, plain.c_str());
  if (s.richText) {
    for (size_t k = 0; k < starts.size(); ++k) {
      CHARRANGE range = {starts[k], ends[k]};
      SendMessageA(s.text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
      CHARFORMATA cf;
      ZeroMemory(&cf, sizeof cf);
      cf.cbSize = sizeof cf;
      cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT;
      cf.dwEffects = CFE_BOLD;
      SendMessageA(s.text, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    }
    CHARRANGE none = {0, 0};
    SendMessageA(s.text, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&none));
  } else {
    SendMessageA(s.text, EM_SETSEL, 0, 0);
  }

  const BoxSize block = MeasureText(s.text, s.font, plain);
  const int w = block.width;
  const int h = block.height;
  ResizeText(s.text, w + 10, h);
  if (!s.richText || starts.empty()) return;
  // Bold runs are wider than the regular face they were measured in: widen
  // until the control asks for no more height than the text was given.
  int widest = w;
  for (int i = 0; i <= 20; ++i) {
    ResizeText(s.text, w + 10 * i, h);
    // Asked for explicitly: the control only reports on its own when the
    // height it needs changes, and a stale answer would end the search early.
    SendMessageA(s.text, EM_REQUESTRESIZE, 0, 0);
    if (s.requestedHeight <= h) return;
    if (s.requestedWidth > widest) widest = s.requestedWidth;
  }
  ResizeText(s.text, widest + 10, h);
}

HICON ChooseIcon(uint32_t flags, HINSTANCE instance) {
  int system = 0;
  switch (flags & kBoxIconMask) {
    case 0x10: system = 32513; break;  // IDI_HAND
    case 0x20: system = 32514; break;  // IDI_QUESTION
    case 0x30: system = 32515; break;  // IDI_EXCLAMATION
    case 0x40: system = 32516; break;  // IDI_ASTERISK
    default: break;
  }
  if (system) return LoadIconA(nullptr, MAKEINTRESOURCEA(system));
  HICON icon = LoadIconA(instance, "MainIcon");
  // Programs without the stub's resources still show an icon.
  return icon ? icon : LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
}

HWND CreateTextControl(BoxState& s, HINSTANCE instance, uint32_t flags, bool rich) {
  DWORD style = WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_WANTRETURN;
  if (flags & kBoxRight) style |= ES_RIGHT;
  const DWORD exStyle = (flags & kBoxRtlReading) ? WS_EX_RTLREADING : 0;
  return CreateWindowExA(exStyle, rich ? "RICHEDIT" : "EDIT", "", style, 86, 30, 100, 13,
                         s.box, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextControlId)),
                         instance, nullptr);
}

int ShowPlainFallback(HWND owner, const std::string& markup, const std::string& caption,
                      uint32_t flags) {
  // Last resort when the box's own windows cannot be made: the user still
  // reads the text and answers with the same buttons.
  std::string plain = markup;
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(plain, starts, ends);
  return MessageBoxA(owner, plain.c_str(), caption.c_str(),
                     flags & (0xFFF | kBoxRight | kBoxRtlReading));
}

int RunBox(HWND owner, const std::string& markup, const std::string& caption, uint32_t flags,
           const std::string& buttonList) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  BoxState s;
  BoxState* outer = g_current;
  s.previousActive = GetActiveWindow();
  if (s.previousActive) EnableWindow(s.previousActive, FALSE);
  s.font = CreateFontA(13, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, "Tahoma");
  HMODULE richLib = LoadSystemLibrary(g_richEditLibrary);

  WNDCLASSA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = BoxProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClassName;
  // Still registered when a box is open further out: that is fine.
  RegisterClassA(&wc);

  s.box = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kClassName, caption.c_str(),
                          WS_VISIBLE | WS_CAPTION | WS_SYSMENU, -100, -100, 10, 10, owner,
                          nullptr, instance, &s);
  if (s.box) {
    // Without the rich-text library (or its class) the text still has to be
    // read and answered: a plain read-only edit control shows it, unbolded.
    if (richLib) s.text = CreateTextControl(s, instance, flags, true);
    s.richText = s.text != nullptr;
    if (!s.text) s.text = CreateTextControl(s, instance, flags, false);
    if (!s.text) DestroyWindow(s.box);
  }
  if (!s.box || !s.text) {
    ReleasePrevious(s);
    if (s.font) DeleteObject(s.font);
    UnregisterClassA(kClassName, instance);
    if (richLib) FreeLibrary(richLib);
    return ShowPlainFallback(owner, markup, caption, flags);
  }
  g_current = &s;

  if (s.richText) {
    SendMessageA(s.text, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
    SendMessageA(s.text, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);
    SendMessageA(s.text, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_WINDOW)));
  } else {
    SendMessageA(s.text, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);
  }
  FillText(s, markup);

  RECT tr;
  GetWindowRect(s.text, &tr);
  const int wt = tr.right - tr.left;
  const int ht = tr.bottom - tr.top;
  const BoxSize size = BoxWindowSize(wt, ht, GetSystemMetrics(SM_CXFRAME),
                                     GetSystemMetrics(SM_CYFRAME),
                                     GetSystemMetrics(SM_CYCAPTION));
  SetWindowPos(s.box, nullptr, (GetSystemMetrics(SM_CXSCREEN) - size.width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - size.height) / 2, size.width, size.height,
               SWP_NOZORDER);
  ShowWindow(s.box, SW_SHOW);

  RECT rc;
  GetClientRect(s.box, &rc);
  const int cw = rc.right;
  const int ch = rc.bottom;
  int tx = 0, ty = 0;
  BoxTextOrigin(cw, ch, wt, ht, tx, ty);
  SetWindowPos(s.text, nullptr, tx, ty, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  s.icon = ChooseIcon(flags, instance);

  BoxButton buttons[kBoxSlots];
  const int count = BoxButtonsOf(flags, buttons);
  for (int k = count - 1; k >= 0; --k) {
    const int x = cw - 80 - 70 * (count - 1 - k);
    const std::string label = ListGetToken(buttonList, buttons[k].captionIndex, "");
    HWND b = CreateWindowExA(0, "Button", label.c_str(), WS_CHILD | WS_VISIBLE, x, ch - 29, 70,
                             23, s.box,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(buttons[k].id)),
                             instance, nullptr);
    if (!b) continue;
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), TRUE);
    SetWindowLongPtrA(b, GWLP_USERDATA, buttons[k].id);
    s.slots[k] = b;
  }
  if (count > 0) MakeDefault(s, BoxDefaultSlot(flags, count));

  s.finished = false;
  while (!s.finished) {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // A quit request ends the box unanswered and goes on to the loop
      // further out, which would otherwise never see it.
      s.result = kIdClosed;
      if (IsWindow(s.box)) DestroyWindow(s.box);
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (FilterKey(s, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  g_current = outer;
  // The class goes only once its last window has: unregistering from inside
  // WM_DESTROY fails on Windows because the box still exists there.
  UnregisterClassA(kClassName, instance);
  if (richLib) FreeLibrary(richLib);
  return s.result;
}

}  // namespace

void SetRichEditLibraryName(const std::string& name) {
  g_richEditLibrary = name.empty() ? std::string("RICHED32.DLL") : name;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                   uint32_t flags, uint8_t charset, const std::string& buttonList) {
  flags = BoxEffectiveFlags(flags, charset);
  const std::string markup = BoxComposeText(text, caption, owner == nullptr);
  if (owner == nullptr || owner == KMsgBoxNoHeader()) owner = GetActiveWindow();
  const int id = RunBox(owner, markup, caption, flags, buttonList);
  DelayWithMessages(100);
  return id;
}

void ShowErrorBox(HWND owner, const std::string& text, const std::string& caption,
                  uint8_t charset, const std::string& buttonList) {
  ShowMessageBox(owner, text, caption, 0x10, charset, buttonList);
}

void ShowWarningBox(HWND owner, const std::string& text, const std::string& caption,
                    uint8_t charset, const std::string& buttonList) {
  ShowMessageBox(owner, text, caption, 0x30, charset, buttonList);
}

bool AskYesNo(HWND owner, const std::string& text, const std::string& caption,
              uint8_t charset, const std::string& buttonList) {
  return ShowMessageBox(owner, text, caption, 0x24, charset, buttonList) == kIdYes;
}

bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption,
                 uint8_t charset, const std::string& buttonList) {
  return ShowMessageBox(owner, text, caption, 0x21, charset, buttonList) == kIdOK;
}
