#include "util/Trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_chunks;

void Collect(const char* text, size_t len) {
  // The device promises a zero after the text: viewers read it as a C string.
  EXPECT_EQ('\0', text[len]);
  g_chunks.emplace_back(text, len);
}

class TraceDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTraceSink(nullptr);
    TraceFlush();  // nothing left over from an earlier test
    g_chunks.clear();
    SetTraceSink(Collect);
  }
  void TearDown() override {
    TraceFlush();
    SetTraceSink(nullptr);
    SetTraceLock(nullptr, nullptr);
  }
};

}  // namespace

TEST_F(TraceDevice, LongLineGoesInChunksWithTheBreakInTheLast) {
  TraceLine(std::string(300, 'x'));
  ASSERT_EQ(3u, g_chunks.size());
  EXPECT_EQ(std::string(128, 'x'), g_chunks[0]);
  EXPECT_EQ(std::string(128, 'x'), g_chunks[1]);
  EXPECT_EQ(std::string(44, 'x') + "\r\n", g_chunks[2]);
}

TEST_F(TraceDevice, ChunkSizesAroundTheBufferSize) {
  static const struct {
    size_t lineLength;
    std::vector<size_t> chunks;
  } kCases[] = {
      {0, {2}},
      {126, {128}},        // the break fills the buffer exactly
      {127, {127, 2}},     // the pair is not split
      {128, {128, 2}},
      {254, {128, 128}},
      {256, {128, 128, 2}},
  };
  for (const auto& c : kCases) {
    g_chunks.clear();
    TraceLine(std::string(c.lineLength, 'a'));
    std::vector<size_t> sizes;
    std::string joined;
    for (const auto& chunk : g_chunks) {
      sizes.push_back(chunk.size());
      joined += chunk;
    }
    EXPECT_EQ(c.chunks, sizes) << c.lineLength;
    EXPECT_EQ(std::string(c.lineLength, 'a') + "\r\n", joined) << c.lineLength;
  }
}

TEST_F(TraceDevice, TextWaitsForTheLineOrAFullBuffer) {
  TraceText("GetCrc");
  TraceText(" - ");
  EXPECT_TRUE(g_chunks.empty());
  TraceLine("START");
  ASSERT_EQ(1u, g_chunks.size());
  EXPECT_EQ("GetCrc - START\r\n", g_chunks[0]);

  g_chunks.clear();
  TraceText(std::string(130, 'b'));
  ASSERT_EQ(1u, g_chunks.size());
  EXPECT_EQ(128u, g_chunks[0].size());
  TraceFlush();
  ASSERT_EQ(2u, g_chunks.size());
  EXPECT_EQ("bb", g_chunks[1]);
  TraceFlush();
  EXPECT_EQ(2u, g_chunks.size());  // nothing buffered, nothing sent
}

TEST_F(TraceDevice, ChunkEndsAtItsFirstZeroByte) {
  TraceLine(std::string("ab\0cd", 5));
  ASSERT_EQ(1u, g_chunks.size());
  EXPECT_EQ("ab", g_chunks[0]);
  // The next line is whole again: the buffer was reset.
  TraceLine("next");
  ASSERT_EQ(2u, g_chunks.size());
  EXPECT_EQ("next\r\n", g_chunks[1]);
}

TEST_F(TraceDevice, NoSinkLosesTextAndKeepsGoing) {
  SetTraceSink(nullptr);
  TraceLine(std::string(1000, 'z'));
  TraceText("partial");
  TraceFlush();
  SetTraceSink(Collect);
  TraceLine("after");
  ASSERT_EQ(1u, g_chunks.size());
  EXPECT_EQ("after\r\n", g_chunks[0]);
}

namespace {
std::recursive_mutex g_mutex;
void LockEnter() { g_mutex.lock(); }
void LockLeave() { g_mutex.unlock(); }
std::mutex g_collectMutex;  // the test's own sink, not the device, is guarded here
void CollectShared(const char* text, size_t len) {
  std::lock_guard<std::mutex> guard(g_collectMutex);
  g_chunks.emplace_back(text, len);
}
}  // namespace

TEST_F(TraceDevice, WritersOnTwoThreadsNeverMixInsideAChunk) {
  SetTraceLock(LockEnter, LockLeave);
  SetTraceSink(CollectShared);
  const int kLines = 2000;
  std::atomic<int> ready(0);
  auto writer = [&ready](char letter) {
    // Both start together, so their writes overlap.
    ++ready;
    while (ready.load() < 2) {
    }
    for (int i = 0; i < kLines; ++i) TraceLine(std::string(300, letter));
  };
  std::thread a(writer, 'A'), b(writer, 'B');
  a.join();
  b.join();
  size_t letters[2] = {0, 0};
  for (const auto& chunk : g_chunks) {
    ASSERT_LE(chunk.size(), kTraceChunkSize);
    std::string body = chunk;
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    ASSERT_FALSE(body.empty());
    ASSERT_EQ(std::string::npos, body.find_first_not_of(body[0])) << chunk;
    letters[body[0] == 'A' ? 0 : 1] += body.size();
  }
  EXPECT_EQ(size_t(kLines) * 300, letters[0]);
  EXPECT_EQ(size_t(kLines) * 300, letters[1]);
}
