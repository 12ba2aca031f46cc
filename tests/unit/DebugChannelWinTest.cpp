// The trace channel as a developer sees it: the test-kit viewer runs, this
// process writes trace lines, the viewer writes down what arrived.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paths/Files.h"
#include "util/Trace.h"
#include "util/UtilsWin.h"

namespace {

struct TChunk {
  unsigned atom;
  std::string text;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      out += s[i] == 'r' ? '\r' : s[i] == 'n' ? '\n' : s[i];
    } else {
      out += s[i];
    }
  }
  return out;
}

void WaitUntil(bool (*done)(const std::string&), const std::string& arg, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!done(arg) && GetTickCount() - start < ms) Sleep(50);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool NoViewer(const std::string&) { return FindWindowA(".KDebug.", nullptr) == nullptr; }

// Starts the test-kit viewer and stops it at the end.
class DebugViewer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(NoViewer("")) << "another debug viewer is running";
    // The same chunks also go to the standard output; keep them out of the
    // test log.
    savedOut_ = GetStdHandle(STD_OUTPUT_HANDLE);
    nul_ = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, nul_);
    output_ = TempDir(true) + "KorvanDebugViewer" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA((output_ + ".ready").c_str());
    std::string exe = std::string(KORVAN_TESTKIT) + "/debug_viewer.exe";
    for (char& c : exe)
      if (c == '/') c = '\\';
    std::string line = "\"" + exe + "\" \"" + output_ + "\" 120";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process_))
        << exe;
    CloseHandle(process_.hThread);
    WaitUntil(FileExists, output_ + ".ready", 30000);
    ASSERT_TRUE(FileExists(output_ + ".ready"));
    ASSERT_FALSE(NoViewer(""));
  }
  void TearDown() override {
    SetStdHandle(STD_OUTPUT_HANDLE, savedOut_);
    if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
    if (process_.hProcess) {
      WriteFileText(output_ + ".stop", "", 0, false);
      if (WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
      CloseHandle(process_.hProcess);
    }
    for (const char* ext : {"", ".chunks", ".ready", ".stop"}) DeleteFileA((output_ + ext).c_str());
  }

  // Every chunk the viewer has written down so far, in order.
  std::vector<TChunk> Chunks() const {
    std::vector<TChunk> chunks;
    const std::string log = ReadFileRange(output_ + ".chunks", 0, 0);
    size_t at = 0;
    while (at < log.size()) {
      size_t end = log.find("\r\n", at);
      if (end == std::string::npos) break;
      const std::string line = log.substr(at, end - at);
      const size_t blank = line.find(' ');
      if (blank != std::string::npos)
        chunks.push_back({unsigned(std::stoul(line.substr(0, blank))), Unescape(line.substr(blank + 1))});
      at = end + 2;
    }
    return chunks;
  }
  // The chunks that hold only Marker characters (and a line break); the
  // test's own text, whatever else reached the viewer.
  std::vector<TChunk> ChunksOf(char marker) const {
    std::vector<TChunk> mine;
    for (const auto& c : Chunks()) {
      const size_t n = c.text.find_first_not_of(marker);
      if (n != 0 && (n == std::string::npos || c.text.substr(n) == "\r\n")) mine.push_back(c);
    }
    return mine;
  }

  std::string output_;
  PROCESS_INFORMATION process_ = {};
  HANDLE savedOut_ = nullptr;
  HANDLE nul_ = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(DebugViewer, LongLineArrivesInChunksWithTheBreakInTheLast) {
  TraceLine(std::string(300, '@'));
  // The send is synchronous: the viewer has it all once the line returns.
  const auto chunks = ChunksOf('@');
  ASSERT_EQ(3u, chunks.size());
  EXPECT_EQ(std::string(128, '@'), chunks[0].text);
  EXPECT_EQ(std::string(128, '@'), chunks[1].text);
  EXPECT_EQ(std::string(44, '@') + "\r\n", chunks[2].text);
  // The atoms went with their sends.
  for (const auto& c : chunks) {
    char name[256];
    EXPECT_EQ(0u, GlobalGetAtomNameA(ATOM(c.atom), name, sizeof name)) << c.atom;
  }
  EXPECT_NE(std::string::npos, ReadFileRange(output_, 0, 0).find(std::string(300, '@') + "\r\n"));
}

namespace {
DWORD WINAPI WriteLetters(void* letter) {
  for (int i = 0; i < 100; ++i) TraceLine(std::string(300, *static_cast<char*>(letter)));
  return 0;
}
}  // namespace

TEST_F(DebugViewer, TwoThreadsNeverMixInsideAChunk) {
  static char letters[2] = {'<', '>'};
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) threads[i] = CreateThread(nullptr, 0, WriteLetters, &letters[i], 0, nullptr);
  WaitForMultipleObjects(2, threads, TRUE, 60000);
  for (HANDLE t : threads) CloseHandle(t);
  for (char letter : letters) {
    size_t count = 0;
    for (const auto& c : ChunksOf(letter)) count += std::count(c.text.begin(), c.text.end(), letter);
    EXPECT_EQ(100u * 300, count) << letter;
  }
  // Nothing else mixed letters from both threads in one chunk.
  for (const auto& c : Chunks()) {
    const bool hasA = c.text.find('<') != std::string::npos, hasB = c.text.find('>') != std::string::npos;
    EXPECT_FALSE(hasA && hasB) << c.text;
  }
}

TEST_F(DebugViewer, ViewerThatEndsIsDroppedAtTheNextLine) {
  TraceLine("before the end");
  WriteFileText(output_ + ".stop", "", 0, false);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.hProcess, 30000));
  TraceLine("nobody listens");  // must simply return
  EXPECT_EQ("before the end\r\n", ReadFileRange(output_, 0, 0).substr(0, 16));
  EXPECT_EQ(std::string::npos, ReadFileRange(output_, 0, 0).find("nobody"));
}

TEST(DebugChannelWin, WritingWithoutViewerOrOutputNeverFails) {
  ASSERT_TRUE(NoViewer(""));
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  // A GUI program: no standard output at all.
  SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
  TraceLine(std::string(1000, 'n'));
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  TraceText("lost ");
  TraceLine("line");
  // An output that was closed under the program.
  HANDLE closed = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CloseHandle(closed);
  SetStdHandle(STD_OUTPUT_HANDLE, closed);
  TraceLine("into a closed handle");
  // The device carries on with whole lines once an output is there again.
  HANDLE readEnd, writeEnd;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
  SetStdHandle(STD_OUTPUT_HANDLE, writeEnd);
  TraceLine("after");
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(writeEnd);
  char buf[64];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(readEnd, buf, sizeof buf, &got, nullptr));
  CloseHandle(readEnd);
  EXPECT_EQ("after\r\n", std::string(buf, got));
}
