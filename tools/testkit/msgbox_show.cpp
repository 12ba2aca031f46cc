// msgbox_show: shows one message box from its arguments and prints what came
// back, so that a test can answer the box with msgbox_robot and check the
// answer.
//
//   msgbox_show [OPTION...] TEXT
//     --caption=TEXT      caption (default "Message")
//     --flags=N           style flags, decimal or 0x hex (default 0)
//     --charset=N         character set byte (default 0)
//     --buttons=LIST      seven-caption list (default "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|")
//     --owner=0|1|window  0: header, no owner; 1: no header; window: a window
//                         of this program, made active first (default 0)
//     --entry=NAME        box (ShowMessageBox, default), error, warning,
//                         yesno or okcancel
//     --richedit=NAME     library asked for the rich-text class (a name that
//                         does not load shows the stand-in edit control)
//     --count=N           show the box N times in a row (default 1)
//
// Output, one JSON object per line:
//   {"plain": ..., "bold": [[start, end], ...]}  what the box is to show,
//       from the same composition and ExtractBoldRanges, before each box
//   {"result": N}             ShowMessageBox's identifier, or
//   {"answer": true|false}    AskYesNo / AskOkCancel, or {"done": true}
//   {"owner_enabled": B, "owner_active": B}  with --owner=window, after the box
// Exit code 0, or 2 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msgbox/KMsgBox.h"
#include "msgbox_json.h"

namespace {

bool Option(const char* arg, const char* name, std::string& value) {
  const size_t n = strlen(name);
  if (strncmp(arg, name, n) != 0) return false;
  value = arg + n;
  return true;
}

long ParseNumber(const std::string& s) { return strtol(s.c_str(), nullptr, 0); }

LRESULT CALLBACK OwnerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, m, wp, lp);
}

HWND MakeOwnerWindow() {
  WNDCLASSA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = "MsgBoxShowOwner";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "MsgBoxShowOwner", "msgbox_show owner",
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200, nullptr,
                           nullptr, wc.hInstance, nullptr);
  SetForegroundWindow(w);
  SetActiveWindow(w);
  // Let the activation settle before the box asks who is active.
  MSG msg;
  for (int i = 0; i < 20; ++i) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }
  return w;
}

void PrintExpected(const std::string& text, const std::string& caption, bool header) {
  std::string plain = BoxComposeText(text, caption, header);
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(plain, starts, ends);
  std::string bold = "[";
  for (size_t k = 0; k < starts.size(); ++k) {
    if (k) bold += ", ";
    bold += "[" + JsonInt(starts[k]) + ", " + JsonInt(ends[k]) + "]";
  }
  bold += "]";
  JsonLine("{\"plain\": " + JsonText(plain) + ", \"bold\": " + bold + "}");
}

}  // namespace

int main(int argc, char** argv) {
  std::string caption = "Message", buttons = DefaultButtonList, owner = "0", entry = "box";
  std::string text, value;
  bool haveText = false;
  uint32_t flags = 0;
  uint8_t charset = 0;
  int count = 1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (Option(a, "--caption=", value)) caption = value;
    else if (Option(a, "--flags=", value)) flags = static_cast<uint32_t>(ParseNumber(value));
    else if (Option(a, "--charset=", value)) charset = static_cast<uint8_t>(ParseNumber(value));
    else if (Option(a, "--buttons=", value)) buttons = value;
    else if (Option(a, "--owner=", value)) owner = value;
    else if (Option(a, "--entry=", value)) entry = value;
    else if (Option(a, "--richedit=", value)) SetRichEditLibraryName(value);
    else if (Option(a, "--count=", value)) count = static_cast<int>(ParseNumber(value));
    else if (!haveText) { text = a; haveText = true; }
    else { fprintf(stderr, "msgbox_show: unexpected argument %s\n", a); return 2; }
  }
  if (!haveText || (owner != "0" && owner != "1" && owner != "window")) {
    fprintf(stderr, "usage: msgbox_show [--caption=..] [--flags=N] [--charset=N] [--buttons=LIST]"
                    " [--owner=0|1|window] [--entry=box|error|warning|yesno|okcancel]"
                    " [--richedit=DLL] [--count=N] TEXT\n");
    return 2;
  }
  HWND ownerWindow = nullptr;
  if (owner == "1") ownerWindow = KMsgBoxNoHeader();
  if (owner == "window") ownerWindow = MakeOwnerWindow();

  for (int round = 0; round < count; ++round) {
    PrintExpected(text, caption, owner == "0");
    if (entry == "error") {
      ShowErrorBox(ownerWindow, text, caption, charset, buttons);
      JsonLine("{\"done\": true}");
    } else if (entry == "warning") {
      ShowWarningBox(ownerWindow, text, caption, charset, buttons);
      JsonLine("{\"done\": true}");
    } else if (entry == "yesno") {
      JsonLine("{\"answer\": " + JsonBool(AskYesNo(ownerWindow, text, caption, charset, buttons)) + "}");
    } else if (entry == "okcancel") {
      JsonLine("{\"answer\": " + JsonBool(AskOkCancel(ownerWindow, text, caption, charset, buttons)) + "}");
    } else {
      const int id = ShowMessageBox(ownerWindow, text, caption, flags, charset, buttons);
      JsonLine("{\"result\": " + JsonInt(id) + "}");
    }
    if (owner == "window") {
      // The box gives the owner its activation back as it ends; under Wine
      // the X focus events that follow arrive later and, on a busy machine,
      // can briefly take it again. Let them settle before reading it.
      for (int k = 0; k < 40 && GetActiveWindow() != ownerWindow; ++k) {
        MSG pending;
        while (PeekMessageA(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&pending);
        Sleep(50);
      }
      JsonLine("{\"owner_enabled\": " + JsonBool(IsWindowEnabled(ownerWindow) != FALSE) +
               ", \"owner_active\": " + JsonBool(GetActiveWindow() == ownerWindow) + "}");
    }
  }
  if (owner == "window") DestroyWindow(ownerWindow);
  return 0;
}
