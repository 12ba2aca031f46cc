// The message box in this process: a thread timer, dispatched by the box's own
// modal loop, looks at the open box and answers it.
#include "msgbox/KMsgBox.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "util/UtilsWin.h"

namespace {

using Ranges = std::vector<std::pair<int, int>>;

std::function<void(HWND)> g_probe;

void CALLBACK ProbeTimer(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowA("KMsgBox", nullptr);
  if (!box || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId() || !g_probe) return;
  KillTimer(nullptr, id);
  std::function<void(HWND)> probe = std::move(g_probe);
  g_probe = nullptr;
  probe(box);
}

// Shows a box through Show while Probe looks at it from inside the loop.
template <typename F>
auto WithProbe(std::function<void(HWND)> probe, F show) -> decltype(show()) {
  g_probe = std::move(probe);
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, ProbeTimer);
  auto result = show();
  KillTimer(nullptr, timer);
  g_probe = nullptr;
  return result;
}

struct Parts {
  HWND text = nullptr;
  std::vector<HWND> buttons;  // left to right
};

Parts PartsOf(HWND box) {
  Parts p;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = {0};
    GetClassNameA(c, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) p.buttons.push_back(c);
    else p.text = c;
  }
  std::sort(p.buttons.begin(), p.buttons.end(), [](HWND a, HWND b) {
    RECT ra, rb;
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.left < rb.left;
  });
  return p;
}

std::string ClassOf(HWND w) {
  char cls[32] = {0};
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

// Runs of bold characters. A run's trailing line breaks are left out: Wine's
// control formats a paragraph mark together with the text before it, and a
// line break shows no face anyway.
Ranges BoldRangesOf(HWND text) {
  Ranges r;
  const std::string all = WindowTextOf(text);
  const int length = static_cast<int>(all.size());
  int start = -1;
  for (int i = 0; i <= length; ++i) {
    bool bold = false;
    if (i < length) {
      SendMessageA(text, EM_SETSEL, i, i + 1);
      CHARFORMATA cf;
      ZeroMemory(&cf, sizeof cf);
      cf.cbSize = sizeof cf;
      SendMessageA(text, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
      bold = (cf.dwMask & CFM_BOLD) && (cf.dwEffects & CFE_BOLD);
    }
    if (bold && start < 0) start = i;
    if (!bold && start >= 0) {
      int end = i;
      while (end > start && (all[end - 1] == '\r' || all[end - 1] == '\n')) --end;
      r.emplace_back(start, end);
      start = -1;
    }
  }
  return r;
}

Ranges TrimmedRanges(const std::string& plain, const std::vector<uint16_t>& starts,
                     const std::vector<uint16_t>& ends) {
  Ranges r;
  for (size_t k = 0; k < starts.size(); ++k) {
    int end = ends[k];
    while (end > starts[k] && (plain[end - 1] == '\r' || plain[end - 1] == '\n')) --end;
    r.emplace_back(starts[k], end);
  }
  return r;
}

const std::string kFrench = "|&D'accord|&Annuler|&Oui|&Non|&Abandonner|&Recommencer|&Ignorer|";

}  // namespace


TEST(KMsgBox, TextAndBoldAsMarkedUpInTheRichTextControl) {
  const std::string text = "First <b>bold</b> words<P>second line\\nwith <B>more\\tbold</B>.";
  std::string plain = BoxComposeText(text, "Notice", true);
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(plain, starts, ends);
  std::string shown;
  Ranges bold;
  std::string cls;
  LONG_PTR style = 0;
  const int id = WithProbe(
      [&](HWND box) {
        HWND t = PartsOf(box).text;
        cls = ClassOf(t);
        shown = WindowTextOf(t);
        bold = BoldRangesOf(t);
        style = GetWindowLongPtrA(t, GWL_STYLE);
        PostMessageA(box, WM_CLOSE, 0, 0);
      },
      [&] { return ShowMessageBox(nullptr, text, "Notice", 0x40, 0, DefaultButtonList); });
  EXPECT_EQ(0, id);
  EXPECT_EQ("RICHEDIT", cls);
  EXPECT_EQ(plain, shown);
  EXPECT_EQ(TrimmedRanges(plain, starts, ends), bold);
  EXPECT_EQ(3u, bold.size());  // the header and two marked runs
  EXPECT_TRUE(style & ES_READONLY);
  EXPECT_FALSE(style & ES_RIGHT);
}

// Without the rich-text library the user still reads the whole text and
// answers with the same buttons and keys.
TEST(KMsgBox, PlainEditControlStandsInWithoutTheRichTextLibrary) {
  SetRichEditLibraryName("NO_SUCH_RICHED.DLL");
  std::string cls, shown;
  LONG_PTR style = 0, exStyle = 0;
  int textWidth = 0;
  const int id = WithProbe(
      [&](HWND box) {
        HWND t = PartsOf(box).text;
        cls = ClassOf(t);
        char buf[4096] = {0};
        GetWindowTextA(t, buf, sizeof buf);
        shown = buf;
        style = GetWindowLongPtrA(t, GWL_STYLE);
        exStyle = GetWindowLongPtrA(t, GWL_EXSTYLE);
        RECT r;
        GetWindowRect(t, &r);
        textWidth = r.right - r.left;
        PostMessageA(PartsOf(box).buttons[1], WM_SYSCHAR, 'n', 1 << 29);
      },
      [&] {
        return ShowMessageBox(KMsgBoxNoHeader(), "Keep <b>this</b>?<P>" + std::string(120, 'w'),
                              "Question", 0x24, 178, kFrench);
      });
  SetRichEditLibraryName("");
  EXPECT_EQ(kIdNo, id);
  EXPECT_EQ("Edit", cls);
  EXPECT_EQ("Keep this?\r\n" + std::string(120, 'w'), shown);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(style & ES_READONLY);
  EXPECT_TRUE(style & ES_RIGHT);
  EXPECT_TRUE(exStyle & WS_EX_RTLREADING);
  EXPECT_GT(textWidth, 10);
}

// The library name is only a test hook: set back, the rich-text control returns.
TEST(KMsgBox, BoxAfterBoxRegistersItsClassAgain) {
  for (int round = 0; round < 3; ++round) {
    std::string cls;
    const bool yes = WithProbe(
        [&](HWND box) {
          cls = ClassOf(PartsOf(box).text);
          PostMessageA(PartsOf(box).buttons[0], BM_CLICK, 0, 0);
        },
        [&] { return AskYesNo(nullptr, "Again?", "Round", 0, DefaultButtonList); });
    EXPECT_TRUE(yes) << round;
    EXPECT_EQ("RICHEDIT", cls) << round;
  }
}

// A box opened from a timer while another one waits: each keeps its own
// buttons and answer, and the outer box gets its input back.
TEST(KMsgBox, BoxOpenedWhileAnotherWaits) {
  int inner = -1;
  bool outerDisabledMeanwhile = false, outerEnabledAfter = false;
  const int outer = WithProbe(
      [&](HWND outerBox) {
        inner = WithProbe(
            [&](HWND innerBox) {
              outerDisabledMeanwhile = !IsWindowEnabled(outerBox);
              // Both boxes share the class name: pick the one that is not outer.
              HWND b = FindWindowExA(nullptr, nullptr, "KMsgBox", nullptr);
              if (b == outerBox) b = FindWindowExA(nullptr, outerBox, "KMsgBox", nullptr);
              PostMessageA(PartsOf(b).buttons[2], BM_CLICK, 0, 0);
              (void)innerBox;
            },
            [&] { return ShowMessageBox(KMsgBoxNoHeader(), "Inner", "Inner", 0x2, 0, DefaultButtonList); });
        outerEnabledAfter = IsWindowEnabled(outerBox) != FALSE;
        PostMessageA(PartsOf(outerBox).buttons[1], BM_CLICK, 0, 0);
      },
      [&] { return ShowMessageBox(KMsgBoxNoHeader(), "Outer", "Outer", 0x1, 0, DefaultButtonList); });
  EXPECT_EQ(kIdIgnore, inner);
  EXPECT_EQ(kIdCancel, outer);
  EXPECT_TRUE(outerDisabledMeanwhile);
  EXPECT_TRUE(outerEnabledAfter);
}

// A quit request while the box is open ends it unanswered and still reaches
// the loop further out.
TEST(KMsgBox, QuitRequestEndsTheBoxAndIsHandedOn) {
  const int id = WithProbe([](HWND) { PostQuitMessage(5); },
                           [] { return ShowMessageBox(nullptr, "Quit", "Q", 0x1, 0, DefaultButtonList); });
  EXPECT_EQ(0, id);
  EXPECT_EQ(nullptr, FindWindowA("KMsgBox", nullptr));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(5u, msg.wParam);
}

// The window that was active is disabled while the box is open and active again after.
TEST(KMsgBox, PreviousActiveWindowIsDisabledThenRestored) {
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                               200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetActiveWindow(owner);
  DelayWithMessages(100);
  ASSERT_EQ(owner, GetActiveWindow());
  bool disabledMeanwhile = false;
  HWND boxOwner = nullptr;
  const bool ok = WithProbe(
      [&](HWND box) {
        disabledMeanwhile = !IsWindowEnabled(owner);
        boxOwner = GetWindow(box, GW_OWNER);
        PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
      },
      [&] { return AskOkCancel(owner, "Go on?", "Owned", 0, DefaultButtonList); });
  EXPECT_FALSE(ok);
  EXPECT_TRUE(disabledMeanwhile);
  EXPECT_EQ(owner, boxOwner);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(owner, GetActiveWindow());
  DestroyWindow(owner);
}

// The text is sized so that no line wraps that the text itself does not
// break: bold runs are wider than the face they were measured in.
TEST(KMsgBox, LinesAreNotWrappedByTheSizing) {
  const struct {
    HWND owner;
    const char* text;
  } cases[] = {
      {KMsgBoxNoHeader(), "Short"},
      {nullptr, "Do you want to <b>continue</b> now?"},
      {nullptr, "<b>Every word of this line is bold and rather long as well</b><P>then plain"},
      {KMsgBoxNoHeader(), "tab\\tstops<T>inside<P><b>and</b> more<P><P>lines"},
  };
  for (const auto& c : cases) {
    std::string plain = BoxComposeText(c.text, "Header", c.owner == nullptr);
    std::vector<uint16_t> starts, ends;
    ExtractBoldRanges(plain, starts, ends);
    const int expectedLines = static_cast<int>(BoxMeasureLines(plain).size());
    int lines = 0;
    WithProbe(
        [&](HWND box) {
          lines = static_cast<int>(SendMessageA(PartsOf(box).text, EM_GETLINECOUNT, 0, 0));
          PostMessageA(box, WM_CLOSE, 0, 0);
        },
        [&] { return ShowMessageBox(c.owner, c.text, "Header", 0, 0, DefaultButtonList); });
    EXPECT_EQ(expectedLines, lines) << c.text;
  }
}
