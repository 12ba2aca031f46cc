// The process finder against real processes: copies of the test kit's
// product window, each under a name of its own so that no other test's
// programs can match.
#include "process/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "process/TlHelp32Win.h"
#include "util/UtilsWin.h"

namespace {

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ProductExe() { return Backslashed(KORVAN_TESTKIT) + "\\product_window.exe"; }

std::string ReadFileText(const std::string& path) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  CloseHandle(f);
  return text;
}

// One running product window, ended when the holder goes.
class Product {
 public:
  Product(const std::string& exe, const std::string& args)
      : log_(exe + "." + IntToStr(++count_) + ".log") {
    DeleteFileA(log_.c_str());
    std::string line = "\"" + exe + "\" \"" + log_ + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    // Its windows exist once it has written READY; a start that fails shows
    // as an ended process.
    for (int i = 0; i < 600 && !Ended(0); ++i) {
      const std::string text = Log();
      const size_t at = text.find("READY ");
      const size_t end = text.find("\r\n", at);
      if (at != std::string::npos && end != std::string::npos) {
        const std::string fields = text.substr(at + 6, end - at - 6);
        const size_t blank = fields.find(' ');
        window_ = reinterpret_cast<HWND>(
            static_cast<UINT_PTR>(std::strtoull(fields.c_str() + blank + 1, nullptr, 16)));
        ready_ = true;
        return;
      }
      Sleep(50);
    }
  }
  ~Product() {
    if (process_) {
      if (!Ended(0)) TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 10000);
      CloseHandle(process_);
    }
    DeleteFileA(log_.c_str());
  }
  Product(const Product&) = delete;
  Product& operator=(const Product&) = delete;

  bool ready() const { return ready_; }
  DWORD pid() const { return pid_; }
  HWND window() const { return window_; }
  HANDLE process() const { return process_; }
  std::string Log() const { return ReadFileText(log_); }
  bool Ended(DWORD waitMs) const { return WaitForSingleObject(process_, waitMs) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  std::string log_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
  bool ready_ = false;
  static int count_;
};
int Product::count_ = 0;

const char* RoadName(TProcessListSource s) {
  switch (s) {
    case plsProcessStatus: return "ProcessStatus";
    case plsToolHelp: return "ToolHelp";
    case plsImageName: return "ImageName";
    default: return "Auto";
  }
}

// Every test runs on each road of the finder. Each test gets its own folder
// (with a blank in its name, so that its short form differs) and its own
// program name there.
class ProcessRoad : public ::testing::TestWithParam<TProcessListSource> {
 protected:
  void SetUp() override {
    SetProcessListSource(GetParam());
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info->name();
    name = name.substr(0, name.find('/'));
    folder_ = TempDir(true) + "korvan process " + IntToStr(GetCurrentProcessId()) + "\\" +
              RoadName(GetParam()) + " " + name;
    CreateDirectoryA((TempDir(true) + "korvan process " + IntToStr(GetCurrentProcessId())).c_str(), nullptr);
    CreateDirectoryA(folder_.c_str(), nullptr);
    exeName_ = "kpw_" + std::string(RoadName(GetParam())) + "_" + name + ".exe";
    exe_ = folder_ + "\\" + exeName_;
    ASSERT_TRUE(CopyFileA(ProductExe().c_str(), exe_.c_str(), FALSE)) << exe_;
  }
  void TearDown() override {
    products_.clear();
    SetProcessListSource(plsAuto);
    DeleteFileA(exe_.c_str());
    RemoveDirectoryA(folder_.c_str());
  }

  Product& Start(const std::string& args, const std::string& exe = std::string()) {
    products_.emplace_back(new Product(exe.empty() ? exe_ : exe, args));
    return *products_.back();
  }

  // The tool-help record holds the full path on the 9x family only; the NT
  // family and Wine give the bare file name, so no full path matches there.
  bool FullPathsKnown() const { return GetParam() != plsToolHelp || !IsWinNT(); }
  // A path that finds the program on this road, for the stopping calls.
  std::string StopPath() const { return FullPathsKnown() ? exe_ : exeName_; }
  bool StopPathOnly() const { return FullPathsKnown(); }

  std::string folder_, exeName_, exe_;
  std::vector<std::unique_ptr<Product>> products_;
};

INSTANTIATE_TEST_SUITE_P(Roads, ProcessRoad, ::testing::Values(plsProcessStatus, plsToolHelp, plsImageName),
                         [](const ::testing::TestParamInfo<TProcessListSource>& p) {
                           return std::string(RoadName(p.param));
                         });

TEST_P(ProcessRoad, BlankPathFindsAndStopsNothing) {
  Product& p = Start("--dialogs 1");
  ASSERT_TRUE(p.ready());
  for (const char* path : {"", "   ", "\"\""}) {
    SCOPED_TRACE(std::string("path [") + path + "]");
    EXPECT_EQ(0u, FindProcessId(path, false));
    EXPECT_FALSE(IsProgramRunning(path));
    EXPECT_EQ(nullptr, FindMainWindow(path, false));
    EXPECT_FALSE(CloseProgramByWmClose(path, false));
    EXPECT_FALSE(CloseProgramByWmQuit(path, false));
    EXPECT_FALSE(TerminateProgram(path, false));
  }
  EXPECT_FALSE(p.Ended(300));
  EXPECT_EQ(std::string::npos, p.Log().find("WM_"));
}

TEST_P(ProcessRoad, MatchingRule) {
  Product& p = Start("");
  ASSERT_TRUE(p.ready());
  char shortBuf[MAX_PATH + 1];
  const DWORD n = GetShortPathNameA(exe_.c_str(), shortBuf, sizeof shortBuf);
  ASSERT_GT(n, 0u);
  const std::string shortPath(shortBuf, n);
  ASSERT_NE(shortPath, exe_) << "the folder's blank should give a short form of its own";

  std::string upper = exe_;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  std::string baseUpper = exeName_;
  for (char& c : baseUpper)
    if (c >= 'a' && c <= 'z') c = char(c - 32);

  const bool full = FullPathsKnown();
  struct Row {
    std::string path;
    bool pathOnly;
    bool found;
  } rows[] = {
      {exe_, true, full},
      {" " + upper + "\t", true, full},
      {shortPath, true, full},
      {exe_, false, full},
      {exeName_, false, true},
      {baseUpper, false, true},
      {exeName_, true, false},
      {"Z:\\elsewhere\\" + exeName_, false, false},
      {FileBaseName(exeName_), false, false},
      {"\"" + exe_ + "\"", false, false},  // quotes are stripped only where the caller asks
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("path [" + r.path + "] PathOnly " + (r.pathOnly ? "true" : "false"));
    EXPECT_EQ(r.found ? p.pid() : 0u, FindProcessId(r.path, r.pathOnly));
  }

  // Quoted, half quoted, bare: IsProgramRunning strips them and ignores the folder.
  EXPECT_TRUE(IsProgramRunning("\"" + exeName_ + "\""));
  EXPECT_TRUE(IsProgramRunning("\"" + exeName_));
  EXPECT_TRUE(IsProgramRunning(exeName_ + "\""));
  EXPECT_EQ(full, IsProgramRunning("\"" + exe_ + "\""));

  // With the bare name in the current folder its short form exists, but a
  // relative short name must not stand in for a full path.
  char saved[MAX_PATH + 1];
  GetCurrentDirectoryA(sizeof saved, saved);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  EXPECT_EQ(0u, FindProcessId(exeName_, true));
  SetCurrentDirectoryA(saved);

  ASSERT_TRUE(TerminateProgram(exeName_, false));
  ASSERT_TRUE(p.Ended(10000));
  EXPECT_EQ(0u, FindProcessId(exeName_, false));
  EXPECT_FALSE(IsProgramRunning(exeName_));
}

// The program's file (here: its folder) is renamed while it runs. The system
// still reports the name it was started under, which no longer exists, so
// only the short-name comparison is lost.
TEST_P(ProcessRoad, PathOfMissingFileStillMatches) {
  const std::string moved = folder_ + " moved";
  Product& p = Start("");
  ASSERT_TRUE(p.ready());
  ASSERT_TRUE(MoveFileA(folder_.c_str(), moved.c_str()));
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(exe_.c_str()));

  EXPECT_EQ(FullPathsKnown() ? p.pid() : 0u, FindProcessId(exe_, true));
  EXPECT_EQ(p.pid(), FindProcessId(exeName_, false));
  EXPECT_EQ(0u, FindProcessId(moved + "\\" + exeName_, true)) << "the new name is not the one started";

  products_.clear();
  MoveFileA(moved.c_str(), folder_.c_str());
}

// Which process each road finds when two instances run.
DWORD ExpectedOfTwo(TProcessListSource road, DWORD a, DWORD b) {
  DWORD last = 0;
  if (road == plsToolHelp) {
    const HANDLE snap = TlCreateSnapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e = {};
    e.dwSize = sizeof e;
    for (bool ok = TlProcessFirst(snap, e); ok; ok = TlProcessNext(snap, e))
      if (e.th32ProcessID == a || e.th32ProcessID == b) last = e.th32ProcessID;
    CloseHandle(snap);
  } else {
    for (DWORD id : ProcessIdList())
      if (id == a || id == b) last = id;
  }
  return last;
}

TEST_P(ProcessRoad, TwoInstances) {
  Product& a = Start("--title First");
  Product& b = Start("--title Second");
  ASSERT_TRUE(a.ready() && b.ready());
  const DWORD expected = ExpectedOfTwo(GetParam(), a.pid(), b.pid());
  ASSERT_NE(0u, expected);
  EXPECT_EQ(expected, FindProcessId(exeName_, false));
  const Product& found = expected == a.pid() ? a : b;
  EXPECT_EQ(found.window(), FindMainWindow(exeName_, false));
}

// The product ends while the wait runs (the wait keeps serving this thread's
// timers); the wait must return only after that.
Product* g_endFirst = nullptr;
Product* g_endSecond = nullptr;
int g_ticks = 0;
void CALLBACK EndProducts(HWND, UINT, UINT_PTR, DWORD) {
  ++g_ticks;
  if (g_ticks == 1 && g_endFirst) TerminateProcess(g_endFirst->process(), 0);
  if (g_ticks == 3 && g_endSecond) TerminateProcess(g_endSecond->process(), 0);
}

TEST_P(ProcessRoad, WaitUntilNotRunning) {
  // Not running: returns.
  WaitUntilNotRunning("\"" + exeName_ + "\"");

  // Two instances: the road that follows ids waits for the one it found;
  // the snapshot road waits until no instance is left.
  Product& a = Start("");
  Product& b = Start("");
  ASSERT_TRUE(a.ready() && b.ready());
  const DWORD foundId = FindProcessId(exeName_, false);
  ASSERT_TRUE(foundId == a.pid() || foundId == b.pid());
  Product& found = foundId == a.pid() ? a : b;
  Product& other = foundId == a.pid() ? b : a;
  const bool followsId = GetParam() != plsToolHelp;
  g_endFirst = &found;
  g_endSecond = followsId ? nullptr : &other;
  g_ticks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 1200, EndProducts);
  ASSERT_NE(0u, timer);

  WaitUntilNotRunning("\"" + exeName_ + "\"");
  EXPECT_TRUE(found.Ended(0));
  EXPECT_EQ(!followsId, other.Ended(0));
  KillTimer(nullptr, timer);
  g_endFirst = g_endSecond = nullptr;
}

TEST_P(ProcessRoad, MainWindowIsTheOwnerOfTheDialogs) {
  Product& p = Start("--dialogs 2");
  ASSERT_TRUE(p.ready());
  EXPECT_EQ(p.window(), FindMainWindow(exeName_, false));
  EXPECT_EQ(FullPathsKnown() ? p.window() : nullptr, FindMainWindow(exe_, true));
}

// Only invisible, untitled windows that own nothing: no main window, nothing
// posted. Without --no-ime the system's hidden "Default IME" window would
// carry a title.
TEST_P(ProcessRoad, NoMainWindowAmongInvisibleUntitledWindows) {
  Product& p = Start("--invisible --untitled --no-ime");
  ASSERT_TRUE(p.ready());
  ASSERT_NE(0u, FindProcessId(exeName_, false));
  EXPECT_EQ(nullptr, FindMainWindow(exeName_, false));
  EXPECT_FALSE(PostToMainWindow(exeName_, false, WM_CLOSE, 0, 0));
  EXPECT_FALSE(CloseProgramByWmClose(exeName_, false));
  EXPECT_FALSE(CloseProgramByWmQuit(exeName_, false));
  EXPECT_FALSE(p.Ended(300));
  EXPECT_EQ(std::string::npos, p.Log().find("WM_"));
}

// A hidden, titled window (as the agent's own window is) ties with the
// hidden "Default IME" window the system gives the program; the window
// earlier in Z order wins, and the program's window was made last.
TEST_P(ProcessRoad, HiddenTitledWindowIsFound) {
  Product& p = Start("--invisible");
  ASSERT_TRUE(p.ready());
  EXPECT_EQ(p.window(), FindMainWindow(exeName_, false));
  ASSERT_TRUE(PostToMainWindow(exeName_, false, WM_CLOSE, 1123, 77));
  ASSERT_TRUE(p.Ended(10000));
  EXPECT_NE(std::string::npos, p.Log().find("WM_CLOSE 1123 77\r\n"));
}

TEST_P(ProcessRoad, CloseByWmClose) {
  // A WM_CLOSE that reached the dialog instead would close only the dialog.
  Product& p = Start("--dialogs 1 --exit-code 5");
  ASSERT_TRUE(p.ready());
  ASSERT_TRUE(CloseProgramByWmClose(StopPath(), StopPathOnly()));
  ASSERT_TRUE(p.Ended(10000));
  EXPECT_EQ(5u, p.ExitCode());
  const std::string log = p.Log();
  EXPECT_NE(std::string::npos, log.find("WM_CLOSE 15 255\r\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("WM_QUIT 15")) << log;
}

TEST_P(ProcessRoad, CloseByWmQuit) {
  Product& p = Start("--dialogs 1");
  ASSERT_TRUE(p.ready());
  ASSERT_TRUE(CloseProgramByWmQuit(StopPath(), StopPathOnly()));
  ASSERT_TRUE(p.Ended(10000));
  EXPECT_EQ(15u, p.ExitCode());
  const std::string log = p.Log();
  EXPECT_NE(std::string::npos, log.find("WM_QUIT 15 255\r\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("WM_CLOSE")) << log;
}

TEST_P(ProcessRoad, TerminateWhatIgnoresClose) {
  Product& p = Start("--ignore-close");
  ASSERT_TRUE(p.ready());
  ASSERT_TRUE(CloseProgramByWmClose(StopPath(), StopPathOnly()));
  for (int i = 0; i < 100 && p.Log().find("WM_CLOSE") == std::string::npos; ++i) Sleep(50);
  EXPECT_NE(std::string::npos, p.Log().find("WM_CLOSE 15 255\r\n"));
  EXPECT_FALSE(p.Ended(300));

  EXPECT_TRUE(TerminateProgram(StopPath(), StopPathOnly()));
  ASSERT_TRUE(p.Ended(10000));
  EXPECT_EQ(0u, p.ExitCode());
  EXPECT_EQ(std::string::npos, p.Log().find("EXIT")) << "terminated, not ended by itself";
  EXPECT_FALSE(TerminateProgram(StopPath(), StopPathOnly()));
  EXPECT_FALSE(CloseProgramByWmClose(StopPath(), StopPathOnly()));
}

TEST(ProcessIds, ListHoldsThisProcess) {
  const std::vector<DWORD> ids = ProcessIdList();
  EXPECT_GT(ids.size(), 1u);
  EXPECT_TRUE(IsProcessIdAlive(GetCurrentProcessId()));
  EXPECT_FALSE(IsProcessIdAlive(0xFFFFFFF0u));
}

TEST(WaitWhileWindowExists, ReturnsOnceTheWindowIsGone) {
  const std::string exe = ProductExe();
  const std::string title = "Korvan wait " + IntToStr(GetCurrentProcessId());
  const std::string log = TempDir(true) + "korvan_wait_window_" + IntToStr(GetCurrentProcessId()) + ".log";
  // Ends itself after a second: nothing here has to close it.
  std::string line = "\"" + exe + "\" \"" + log + "\" --title \"" + title + "\" --timeout 1";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  for (int i = 0; i < 600 && !FindWindowA("KorvanProductWindow", title.c_str()); ++i) Sleep(50);
  ASSERT_NE(nullptr, FindWindowA("KorvanProductWindow", title.c_str()));

  WaitWhileWindowExists("KorvanProductWindow", title);
  EXPECT_EQ(nullptr, FindWindowA("KorvanProductWindow", title.c_str()));
  WaitWhileWindowExists("", title);
  WaitWhileWindowExists("", "");  // nothing to wait for

  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
  CloseHandle(pi.hProcess);
  EXPECT_NE(std::string::npos, ReadFileText(log).find("TIMEOUT"));
  DeleteFileA(log.c_str());
}

}  // namespace
