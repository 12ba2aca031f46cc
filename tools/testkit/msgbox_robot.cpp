// msgbox_robot: waits for a message box ("KMsgBox" window) of any program in
// the same Wine prefix, describes it as JSON and answers it.
//
//   msgbox_robot [--timeout=SECONDS] STEP...
//
// --timeout bounds the wait for the box (default 30) and every later wait.
// The steps run in order; with none the robot only reports. After each
// action the robot waits until the box's thread has handled it.
//
//   report              print one JSON line describing the box (below)
//   hold:PATH           wait until the file PATH exists: the test takes its
//                       screenshot meanwhile (import -window root), then
//                       creates the file
//   press:N             BM_CLICK on button N, counted from 1 at the left
//   press-caption:TEXT  BM_CLICK on the button whose caption is TEXT
//   command:N           WM_COMMAND (BN_CLICKED) of button N to the box
//   alt:C               Alt+C: WM_SYSCHAR C posted to the box's focused
//                       control, so it passes through the box's key filter
//   enter               WM_KEYDOWN VK_RETURN to the focused control
//   key:left|right|up|down  WM_KEYDOWN of that arrow to the focused control
//   close               WM_CLOSE to the box
//   sysclose            WM_SYSCOMMAND SC_CLOSE (the caption's close box)
//   altf4               WM_SYSKEYDOWN VK_F4 with the Alt bit
//   sleep:MS            pause
//   wait-gone           wait until the box has gone
//   next                wait until the box has gone and the next one is up;
//                       the later steps work on that one
//
// The report:
//   {"caption": "...", "text": "...", "text_class": "RICHEDIT" | "Edit",
//    "bold": [[start, end], ...],       runs of bold characters, end exclusive;
//        a run's trailing line breaks are left out (Wine's control formats a
//        paragraph mark with the text before it; a line break has no face)
//    "buttons": [{"caption", "id", "default", "rect": [x, y, w, h]}, ...],
//    "default": index of the BS_DEFPUSHBUTTON button or -1,
//    "focus": index of the focused button, -1 none, -2 the text control,
//    "window": [left, top, right, bottom], "client": [w, h],
//    "text_rect": [x, y, w, h] in client coordinates,
//    "right": ES_RIGHT, "rtl": WS_EX_RTLREADING, "align": paragraph
//    alignment from the control (1 left, 2 right, 3 centre; 0 unknown),
//    "topmost": ..., "owner": handle or 0, "owner_enabled": ...,
//    "metrics": {"cxframe", "cyframe", "cycaption", "cxscreen", "cyscreen"}}
//
// Exit code 0; 1 when no box came or a step could not be done (a JSON line
// {"error": ...} says which); 2 for bad arguments.
#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "msgbox_json.h"

namespace {

DWORD g_timeoutMs = 30000;

struct Button {
  HWND window;
  RECT rect;  // client coordinates of the box
};

HWND FindBox() { return FindWindowA("KMsgBox", nullptr); }

std::string ClassOf(HWND w) {
  char buf[64] = {0};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

std::string TextOfWindow(HWND w) {
  const LRESULT n = SendMessageA(w, WM_GETTEXTLENGTH, 0, 0);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  const LRESULT got = SendMessageA(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
  return std::string(buf.data(), static_cast<size_t>(got > 0 ? got : 0));
}

RECT ClientRectOf(HWND child, HWND box) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

struct Children {
  HWND box;
  HWND text = nullptr;
  std::vector<Button> buttons;
};

BOOL CALLBACK CollectChild(HWND w, LPARAM lp) {
  Children* c = reinterpret_cast<Children*>(lp);
  if (GetParent(w) != c->box) return TRUE;
  const std::string cls = ClassOf(w);
  if (_stricmp(cls.c_str(), "Button") == 0) {
    c->buttons.push_back({w, ClientRectOf(w, c->box)});
  } else if (_stricmp(cls.c_str(), "RICHEDIT") == 0 || _stricmp(cls.c_str(), "Edit") == 0 ||
             strncmp(cls.c_str(), "RichEdit", 8) == 0) {
    c->text = w;
  }
  return TRUE;
}

Children ChildrenOf(HWND box) {
  Children c;
  c.box = box;
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&c));
  std::sort(c.buttons.begin(), c.buttons.end(),
            [](const Button& a, const Button& b) { return a.rect.left < b.rect.left; });
  return c;
}

HWND FocusOf(HWND box) {
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Waits until the box's thread has taken every message sent or posted so
// far: a sent message waits for the thread's next look at its queue.
bool Settle(HWND box) {
  Sleep(150);
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, g_timeoutMs, &ignored) != 0 ||
         !IsWindow(box);
}

// Rich-text messages that carry a structure are not carried between
// processes: the structure has to live in the box's own memory.
class RemoteBuffer {
 public:
  explicit RemoteBuffer(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_)
      memory_ = VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return memory_ != nullptr; }
  LPARAM address() const { return reinterpret_cast<LPARAM>(memory_); }
  bool Write(const void* data, size_t size) {
    return WriteProcessMemory(process_, memory_, data, size, nullptr) != FALSE;
  }
  bool Read(void* data, size_t size) {
    return ReadProcessMemory(process_, memory_, data, size, nullptr) != FALSE;
  }

 private:
  HANDLE process_ = nullptr;
  void* memory_ = nullptr;
};

// 1 bold, 0 regular, -1 mixed or unknown, for the current selection.
int SelectionBold(HWND text, RemoteBuffer& remote) {
  CHARFORMATA cf;
  ZeroMemory(&cf, sizeof cf);
  cf.cbSize = sizeof cf;
  if (!remote.Write(&cf, sizeof cf)) return -1;
  SendMessageA(text, EM_GETCHARFORMAT, SCF_SELECTION, remote.address());
  if (!remote.Read(&cf, sizeof cf)) return -1;
  if (!(cf.dwMask & CFM_BOLD)) return -1;
  return (cf.dwEffects & CFE_BOLD) ? 1 : 0;
}

std::string BoldRanges(HWND text, const std::string& all, int& align) {
  const int length = static_cast<int>(all.size());
  align = 0;
  RemoteBuffer remote(text);
  if (!remote.ok()) return "null";
  PARAFORMAT pf;
  ZeroMemory(&pf, sizeof pf);
  pf.cbSize = sizeof pf;
  SendMessageA(text, EM_SETSEL, 0, 0);
  if (remote.Write(&pf, sizeof pf)) {
    SendMessageA(text, EM_GETPARAFORMAT, 0, remote.address());
    if (remote.Read(&pf, sizeof pf) && (pf.dwMask & PFM_ALIGNMENT)) align = pf.wAlignment;
  }
  std::string out = "[";
  SendMessageA(text, EM_SETSEL, 0, length);
  if (SelectionBold(text, remote) != 0) {
    int start = -1;
    bool first = true;
    for (int i = 0; i <= length; ++i) {
      int bold = 0;
      if (i < length) {
        SendMessageA(text, EM_SETSEL, i, i + 1);
        bold = SelectionBold(text, remote) == 1;
      }
      if (bold && start < 0) start = i;
      if (!bold && start >= 0) {
        int end = i;
        while (end > start && (all[end - 1] == '\r' || all[end - 1] == '\n')) --end;
        out += (first ? "" : ", ") + std::string("[") + JsonInt(start) + ", " + JsonInt(end) + "]";
        first = false;
        start = -1;
      }
    }
  }
  SendMessageA(text, EM_SETSEL, 0, 0);
  return out + "]";
}

std::string RectJson(const RECT& r, bool asSize) {
  if (asSize)
    return "[" + JsonInt(r.left) + ", " + JsonInt(r.top) + ", " + JsonInt(r.right - r.left) +
           ", " + JsonInt(r.bottom - r.top) + "]";
  return "[" + JsonInt(r.left) + ", " + JsonInt(r.top) + ", " + JsonInt(r.right) + ", " +
         JsonInt(r.bottom) + "]";
}

void Report(HWND box) {
  Children c = ChildrenOf(box);
  const HWND focus = FocusOf(box);
  std::string j = "{\"caption\": " + JsonText(TextOfWindow(box));
  std::string text;
  int align = 0;
  std::string bold = "[]";
  if (c.text) {
    text = TextOfWindow(c.text);
    const std::string cls = ClassOf(c.text);
    j += ", \"text\": " + JsonText(text) + ", \"text_class\": " + JsonText(cls);
    if (_stricmp(cls.c_str(), "Edit") != 0)
      bold = BoldRanges(c.text, text, align);
  } else {
    j += ", \"text\": null, \"text_class\": null";
  }
  j += ", \"bold\": " + bold;
  j += ", \"buttons\": [";
  int defaultIndex = -1, focusIndex = c.text && focus == c.text ? -2 : -1;
  for (size_t k = 0; k < c.buttons.size(); ++k) {
    HWND b = c.buttons[k].window;
    const bool isDefault = (GetWindowLongPtrA(b, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON;
    if (isDefault && defaultIndex < 0) defaultIndex = static_cast<int>(k);
    if (b == focus) focusIndex = static_cast<int>(k);
    char caption[1001] = {0};
    GetWindowTextA(b, caption, sizeof caption);
    j += std::string(k ? ", " : "") + "{\"caption\": " + JsonText(caption) +
         ", \"id\": " + JsonInt(GetWindowLongPtrA(b, GWLP_USERDATA)) +
         ", \"default\": " + JsonBool(isDefault) + ", \"rect\": " + RectJson(c.buttons[k].rect, true) + "}";
  }
  j += "], \"default\": " + JsonInt(defaultIndex) + ", \"focus\": " + JsonInt(focusIndex);
  RECT wr, cr;
  GetWindowRect(box, &wr);
  GetClientRect(box, &cr);
  j += ", \"window\": " + RectJson(wr, false) + ", \"client\": [" + JsonInt(cr.right) + ", " +
       JsonInt(cr.bottom) + "]";
  if (c.text) {
    const LONG_PTR style = GetWindowLongPtrA(c.text, GWL_STYLE);
    const LONG_PTR ex = GetWindowLongPtrA(c.text, GWL_EXSTYLE);
    j += ", \"text_rect\": " + RectJson(ClientRectOf(c.text, box), true) +
         ", \"right\": " + JsonBool((style & ES_RIGHT) != 0) +
         ", \"rtl\": " + JsonBool((ex & WS_EX_RTLREADING) != 0) + ", \"align\": " + JsonInt(align);
  }
  HWND owner = GetWindow(box, GW_OWNER);
  j += ", \"topmost\": " + JsonBool((GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) +
       ", \"owner\": " + JsonInt(reinterpret_cast<INT_PTR>(owner)) +
       ", \"owner_caption\": " + JsonText(owner ? TextOfWindow(owner) : std::string()) +
       ", \"owner_enabled\": " + JsonBool(owner && IsWindowEnabled(owner));
  j += ", \"metrics\": {\"cxframe\": " + JsonInt(GetSystemMetrics(SM_CXFRAME)) +
       ", \"cyframe\": " + JsonInt(GetSystemMetrics(SM_CYFRAME)) +
       ", \"cycaption\": " + JsonInt(GetSystemMetrics(SM_CYCAPTION)) +
       ", \"cxscreen\": " + JsonInt(GetSystemMetrics(SM_CXSCREEN)) +
       ", \"cyscreen\": " + JsonInt(GetSystemMetrics(SM_CYSCREEN)) + "}}";
  JsonLine(j);
}

// A stable box: found, its loop answering, and its layout no longer moving
// (it is created small off-screen and then sized and filled).
HWND WaitForBox() {
  const DWORD start = GetTickCount();
  std::string last;
  while (GetTickCount() - start < g_timeoutMs) {
    HWND box = FindBox();
    if (box && IsWindowVisible(box) && Settle(box)) {
      Children c = ChildrenOf(box);
      RECT wr;
      GetWindowRect(box, &wr);
      const std::string now = RectJson(wr, false) + JsonInt(static_cast<long long>(c.buttons.size())) +
                              JsonBool(c.text != nullptr);
      if (now == last && c.text) {
        // A user meets the box once it is active. Under Wine the activation
        // follows the X server's focus event, a moment after the box shows,
        // so the report and the keys wait for the box to hold the focus
        // (a box that never takes it is reported with focus -1).
        const DWORD since = GetTickCount();
        while (GetTickCount() - since < 5000) {
          HWND focus = FocusOf(box);
          if (focus && (focus == box || IsChild(box, focus))) break;
          Sleep(20);
        }
        return box;
      }
      last = now;
    } else {
      Sleep(50);
    }
  }
  return nullptr;
}

HWND KeyTarget(HWND box) {
  HWND focus = FocusOf(box);
  return focus && (focus == box || IsChild(box, focus)) ? focus : box;
}

int Fail(const std::string& why) {
  JsonLine("{\"error\": " + JsonText(why) + "}");
  return 1;
}

LPARAM KeyData(UINT vk, bool alt) {
  const UINT scan = MapVirtualKeyA(vk, 0);
  return static_cast<LPARAM>(1 | (scan << 16) | (alt ? (1u << 29) : 0u));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--timeout=", 10) == 0) {
      g_timeoutMs = static_cast<DWORD>(atof(argv[i] + 10) * 1000);
    } else {
      steps.push_back(argv[i]);
    }
  }
  if (steps.empty()) steps.push_back("report");

  HWND box = WaitForBox();
  if (!box) return Fail("no KMsgBox window");

  for (const std::string& step : steps) {
    const size_t colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const std::string arg = colon == std::string::npos ? std::string() : step.substr(colon + 1);
    if (verb == "report") {
      if (!IsWindow(box)) return Fail("box gone before report");
      Report(box);
      continue;
    }
    if (verb == "sleep") {
      Sleep(static_cast<DWORD>(atoi(arg.c_str())));
      continue;
    }
    if (verb == "hold") {
      const DWORD start = GetTickCount();
      while (GetFileAttributesA(arg.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > g_timeoutMs) return Fail("hold file never came: " + arg);
        Sleep(50);
      }
      continue;
    }
    if (verb == "wait-gone" || verb == "next") {
      const DWORD start = GetTickCount();
      while (IsWindow(box)) {
        if (GetTickCount() - start > g_timeoutMs) return Fail("box still open");
        Sleep(50);
      }
      if (verb == "next") {
        box = WaitForBox();
        if (!box) return Fail("no next KMsgBox window");
      }
      continue;
    }
    if (!IsWindow(box)) return Fail("box gone before " + step);
    Children c = ChildrenOf(box);
    if (verb == "press" || verb == "command" || verb == "press-caption") {
      HWND b = nullptr;
      if (verb == "press-caption") {
        for (const Button& button : c.buttons) {
          char caption[1001] = {0};
          GetWindowTextA(button.window, caption, sizeof caption);
          if (arg == caption) b = button.window;
        }
      } else {
        const int n = atoi(arg.c_str());
        if (n >= 1 && n <= static_cast<int>(c.buttons.size())) b = c.buttons[n - 1].window;
      }
      if (!b) return Fail("no such button: " + step);
      if (verb == "command")
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(b), BN_CLICKED), reinterpret_cast<LPARAM>(b));
      else
        PostMessageA(b, BM_CLICK, 0, 0);
    } else if (verb == "alt") {
      if (arg.empty()) return Fail("alt needs a character");
      PostMessageA(KeyTarget(box), WM_SYSCHAR, static_cast<unsigned char>(arg[0]),
                   KeyData(VkKeyScanA(arg[0]) & 0xFF, true));
    } else if (verb == "enter") {
      PostMessageA(KeyTarget(box), WM_KEYDOWN, VK_RETURN, KeyData(VK_RETURN, false));
    } else if (verb == "key") {
      UINT vk = 0;
      if (arg == "left") vk = VK_LEFT;
      if (arg == "right") vk = VK_RIGHT;
      if (arg == "up") vk = VK_UP;
      if (arg == "down") vk = VK_DOWN;
      if (!vk) return Fail("unknown key: " + arg);
      PostMessageA(KeyTarget(box), WM_KEYDOWN, vk, KeyData(vk, false));
    } else if (verb == "close") {
      PostMessageA(box, WM_CLOSE, 0, 0);
    } else if (verb == "sysclose") {
      PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (verb == "altf4") {
      PostMessageA(box, WM_SYSKEYDOWN, VK_F4, KeyData(VK_F4, true));
    } else {
      fprintf(stderr, "msgbox_robot: unknown step %s\n", step.c_str());
      return 2;
    }
    Settle(box);
  }
  return 0;
}
