#include "process/Analizer.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

// A window system in a table: what each window handle is owned by and looks
// like. Handles missing from the table have no owner, no title and no view.
struct FakeWindow {
  uintptr_t owner;
  bool titled;
  bool visible;
};
using WindowTable = std::map<uintptr_t, FakeWindow>;

uintptr_t ownerOf(uintptr_t w, void* c) {
  const WindowTable& t = *static_cast<WindowTable*>(c);
  const auto it = t.find(w);
  return it == t.end() ? 0 : it->second.owner;
}
bool titled(uintptr_t w, void* c) {
  const WindowTable& t = *static_cast<WindowTable*>(c);
  const auto it = t.find(w);
  return it != t.end() && it->second.titled;
}
bool visible(uintptr_t w, void* c) {
  const WindowTable& t = *static_cast<WindowTable*>(c);
  const auto it = t.find(w);
  return it != t.end() && it->second.visible;
}

struct Case {
  const char* name;
  // Windows of the table, in the order they are collected (Z order).
  std::vector<std::pair<uintptr_t, FakeWindow>> windows;
  // Windows of the table that belong to another process: not collected.
  std::vector<std::pair<uintptr_t, FakeWindow>> foreign;
  std::vector<uint16_t> scores;
  uintptr_t main;
};

const Case kCases[] = {
    // Owned popups lie above their owner in Z order, so they come first.
    {"owner of two dialogs beats them",
     {{11, {10, true, true}}, {12, {10, true, true}}, {10, {0, true, true}}},
     {},
     {3, 3, 11},
     10},
    {"only invisible untitled windows: no main window",
     {{20, {0, false, false}}, {21, {0, false, false}}},
     {},
     {0, 0},
     0},
    {"equal scores: the earliest wins",
     {{30, {0, false, true}}, {31, {0, true, false}}, {32, {0, true, false}}},
     {},
     {1, 2, 2},
     31},
    // Only the last owner of a chain counts the windows below it.
    {"chain of owners counts for the topmost only",
     {{42, {41, true, true}}, {41, {40, true, true}}, {40, {0, false, false}}},
     {},
     {3, 3, 8},
     40},
    {"an owner in another process scores nobody",
     {{51, {50, true, false}}, {52, {50, false, true}}},
     {{50, {0, true, true}}},
     {2, 1},
     51},
    {"owning one window outweighs title and view",
     {{60, {0, true, true}}, {62, {61, false, false}}, {61, {0, false, false}}},
     {},
     {3, 0, 4},
     61},
    {"a loop of owners scores nobody and ends",
     {{70, {71, false, true}}, {71, {70, false, false}}},
     {},
     {1, 0},
     70},
    {"nothing collected", {}, {}, {}, 0},
};

TEST(Analizer, ScoresAndMainWindow) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WindowTable table;
    std::unique_ptr<TAnalizer> a(new TAnalizer);
    for (const auto& w : c.windows) {
      table[w.first] = w.second;
      ASSERT_TRUE(a->Add(w.first));
    }
    for (const auto& w : c.foreign) table[w.first] = w.second;
    a->Score({ownerOf, titled, visible, &table});
    ASSERT_EQ(static_cast<int32_t>(c.scores.size()), a->Count);
    for (size_t i = 0; i < c.scores.size(); ++i)
      EXPECT_EQ(c.scores[i], a->Scores[i]) << "window " << a->Windows[i];
    EXPECT_EQ(c.main, a->MainWindow());
  }
}

TEST(Analizer, FullCapacityWithoutOverflow) {
  // 2001 windows: one owner, visible and titled, owning the 2000 others.
  WindowTable table;
  std::unique_ptr<TAnalizer> a(new TAnalizer);
  a->ProcessId = 1234;
  for (uintptr_t w = 1; w <= 2000; ++w) {
    table[w] = {5000, false, false};
    ASSERT_TRUE(a->Add(w));
  }
  table[5000] = {0, true, true};
  ASSERT_TRUE(a->Add(5000));
  EXPECT_FALSE(a->Add(6000)) << "the 2002nd window is not collected";
  EXPECT_EQ(2001, a->Count);
  a->Score({ownerOf, titled, visible, &table});
  EXPECT_EQ(4 * 2000 + 3, a->Scores[2000]);
  EXPECT_EQ(5000u, a->MainWindow());

  a->Reset();
  EXPECT_EQ(0, a->Count);
  EXPECT_EQ(0u, a->Windows[2000]);
  EXPECT_EQ(0, a->Scores[2000]);
  EXPECT_EQ(1234u, a->ProcessId);
  EXPECT_EQ(0u, a->MainWindow());
}

}  // namespace
