#include "util/UtilsWin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A plain window that counts what reaches its procedure.
struct Counts {
  int app = 0;
  int timer = 0;
};
Counts g_counts;

LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP + 7) ++g_counts.app;
  if (m == WM_TIMER) ++g_counts.timer;
  return DefWindowProcA(w, m, wp, lp);
}

class UtilsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KorvanUtilsWinTest";
    RegisterClassA(&wc);  // a second registration fails harmlessly
    window_ = CreateWindowA("KorvanUtilsWinTest", "Korvan title", WS_OVERLAPPED,
                            0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, window_);
    DrainQueue();
    g_counts = Counts();
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    DrainQueue();
  }
  static void DrainQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message != WM_QUIT) DispatchMessageA(&msg);
  }
  HWND window_ = nullptr;
};

// Runs this test program again with Line as its command line and returns
// its exit code: the only way to hand a process a command line of our own.
DWORD RunChild(const std::string& line, bool viaWinExec) {
  if (viaWinExec) {
    // WinExec gives no handle; the child signals through an event instead.
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, "KorvanUtilsChildDone");
    if (WinExec(line.c_str(), SW_HIDE) < 32) return 1000;
    const DWORD w = WaitForSingleObject(done, 60000);
    CloseHandle(done);
    return w == WAIT_OBJECT_0 ? 0 : 1001;
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string buf(line);
  if (!CreateProcessA(ExePath().c_str(), &buf[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &si, &pi))
    return 1002;
  // Guard only: a child that hangs must not hang the suite.
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 1003;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

const char kChildFilter[] = " --gtest_filter=UtilsWinChild.* --gtest_brief=1";

}  // namespace

// ---- Waiting -----------------------------------------------------------------

TEST_F(UtilsWindow, ProcessPendingMessageDispatchesOneMessage) {
  PostMessageA(window_, WM_APP + 7, 0, 0);
  PostMessageA(window_, WM_APP + 7, 0, 0);
  ProcessPendingMessage();
  EXPECT_EQ(1, g_counts.app);
  ProcessPendingMessage();
  EXPECT_EQ(2, g_counts.app);
  ProcessPendingMessage();  // empty queue: nothing happens, nothing blocks
  EXPECT_EQ(2, g_counts.app);
}

TEST_F(UtilsWindow, DelayWithMessagesZeroStillPumps) {
  PostMessageA(window_, WM_APP + 7, 0, 0);
  DelayWithMessages(0);
  EXPECT_EQ(1, g_counts.app);
}

TEST_F(UtilsWindow, HandlersRunDuringTheWait) {
  for (int i = 0; i < 3; ++i) PostMessageA(window_, WM_APP + 7, 0, 0);
  SetTimer(window_, 1, 10, nullptr);
  DelayWithMessages(300);
  KillTimer(window_, 1);
  EXPECT_EQ(3, g_counts.app);
  EXPECT_GE(g_counts.timer, 1);
}

TEST_F(UtilsWindow, QuitRequestSurvivesThePump) {
  // A wait inside a timer message must not swallow the quit request that
  // ends the outer message loop.
  PostQuitMessage(7);
  ProcessPendingMessage();
  DelayWithMessages(20);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, msg.wParam);
}

// ---- Windows -----------------------------------------------------------------

TEST_F(UtilsWindow, WindowTextOf) {
  EXPECT_EQ("Korvan title", WindowTextOf(window_));
  EXPECT_EQ("", WindowTextOf(nullptr));
  const std::string longTitle(1500, 'k');
  SetWindowTextA(window_, longTitle.c_str());
  EXPECT_EQ(std::string(1000, 'k'), WindowTextOf(window_));
}

// ---- Folders -----------------------------------------------------------------

TEST(UtilsWinFolders, OneTrailingBackslashOrNone) {
  struct Folder {
    const char* name;
    std::string (*get)(bool);
  } folders[] = {{"TempDir", TempDir}, {"WindowsDir", WindowsDir},
                 {"SystemDir", SystemDir}, {"ExeDir", ExeDir}};
  for (auto& f : folders) {
    const std::string with = f.get(true), without = f.get(false);
    ASSERT_GT(without.size(), 2u) << f.name;
    EXPECT_NE('\\', without.back()) << f.name << ": " << without;
    EXPECT_EQ(without + "\\", with) << f.name;
    const DWORD attr = GetFileAttributesA(without.c_str());
    EXPECT_TRUE(attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY))
        << f.name << ": " << without;
  }
}

TEST(UtilsWinFolders, LongTempPathIsNotCut) {
  // GetTempPath reports the TMP variable. The system takes temp paths up to
  // MAX_PATH - 2 characters, past a 256-byte buffer: such a path must come
  // back whole, not cut or empty.
  char saved[32768];
  const DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
  std::string longPath = "C:\\";
  while (longPath.size() < 238) longPath += "korvan_folder_20ch\\";
  while (longPath.size() < 257) longPath += 'k';
  longPath += '\\';
  ASSERT_EQ(258u, longPath.size());
  SetEnvironmentVariableA("TMP", longPath.c_str());
  const std::string with = TempDir(true), without = TempDir(false);
  SetEnvironmentVariableA("TMP", had ? saved : nullptr);
  EXPECT_EQ(longPath, with);
  EXPECT_EQ(longPath.substr(0, longPath.size() - 1), without);
}

TEST(UtilsWinFolders, ExePathNamesThisProgram) {
  const std::string path = ExePath();
  EXPECT_TRUE(SameText(".exe", FileExtOf(path))) << path;
  EXPECT_EQ(path, ExeDir(true) + FilePartOf(path));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

// ---- System ------------------------------------------------------------------

TEST(UtilsWinSystem, IsWinNTMatchesTheVersionWord) {
  // GetVersion's high bit is clear on the NT family.
  EXPECT_EQ((GetVersion() & 0x80000000u) == 0, IsWinNT());
}

TEST(UtilsWinSystem, GetProcAddressOf) {
  FARPROC tick = GetProcAddressOf("kernel32.dll", "GetTickCount");
  ASSERT_NE(nullptr, tick);
  EXPECT_EQ(reinterpret_cast<FARPROC>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")),
            tick);
  EXPECT_EQ(nullptr, GetProcAddressOf("kernel32.dll", "NoSuchExportOfKorvan"));
  EXPECT_EQ(nullptr, GetProcAddressOf("korvan_missing_library.dll", "Anything"));
  // The library stays loaded for later look-ups.
  ASSERT_NE(nullptr, GetProcAddressOf("shell32.dll", "ShellExecuteA"));
  EXPECT_NE(nullptr, GetModuleHandleA("shell32.dll"));
}

TEST(UtilsWinSystem, LastErrorText) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string text = LastErrorText();
  EXPECT_FALSE(text.empty());
  EXPECT_NE("2", text);  // a real message, not the fallback
  EXPECT_NE('\n', text.back());
  EXPECT_NE('\r', text.back());
  // A code the system has no text for still says something.
  EXPECT_EQ("536936447", SystemErrorText(0x2000FFFF));
}

// ---- The real command line ---------------------------------------------------

TEST(UtilsWinCommandLine, OwnPathIsNotAnArgument) {
  const std::string args = CommandLineArgs();
  EXPECT_EQ(0, PosText(ExePath(), args)) << args;
  EXPECT_NE('"', args.empty() ? 'x' : args.front()) << args;
}

TEST(UtilsWinCommandLine, QuotedPathFromCreateProcess) {
  const std::string line = "\"" + ExePath() + "\"" + kChildFilter +
                           " /KORVAN_CHILD /TH_ID=12 /hide /Path=\"C:\\a b\\c\" /last";
  EXPECT_EQ(0u, RunChild(line, false));
}

TEST(UtilsWinCommandLine, UnquotedPathFromWinExec) {
  // The agent restarts itself this way: the path is not quoted.
  const std::string line = ExePath() + kChildFilter +
                           " /KORVAN_CHILD /TH_ID=12 /hide /Path=\"C:\\a b\\c\" /last /SIGNAL";
  EXPECT_EQ(0u, RunChild(line, true));
}

TEST(UtilsWinCommandLine, BareProgramNameFromCreateProcess) {
  const std::string line = FilePartOf(ExePath()) + kChildFilter +
                           " /KORVAN_CHILD /TH_ID=12 /hide /Path=\"C:\\a b\\c\" /last";
  EXPECT_EQ(0u, RunChild(line, false));
}

// Runs only inside the child started above.
TEST(UtilsWinChild, SwitchesOfTheRealCommandLine) {
  if (!SwitchPresent("/KORVAN_CHILD")) GTEST_SKIP() << "parent run";
  const std::string args = CommandLineArgs();
  EXPECT_EQ(0, PosText(FilePartOf(ExePath()), args)) << args;
  EXPECT_EQ(1, PosText("--gtest_filter=", args)) << args;
  EXPECT_EQ("12", SwitchValue("/th_id="));
  EXPECT_EQ(12, SwitchInt("/TH_ID=", -1));
  EXPECT_TRUE(SwitchPresent("/HIDE"));
  EXPECT_FALSE(SwitchPresent("/STOP="));
  EXPECT_EQ(-1, SwitchInt("/STOP=", -1));
  EXPECT_EQ("C:\\a b\\c", SwitchValue("/Path="));
  if (SwitchPresent("/SIGNAL") && !::testing::Test::HasFailure()) {
    HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, "KorvanUtilsChildDone");
    ASSERT_NE(nullptr, done);
    SetEvent(done);
    CloseHandle(done);
  }
}
