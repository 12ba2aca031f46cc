// Scoring of a program's top-level windows; see Analizer.h.
#include "process/Analizer.h"

namespace {

// Follows the owners of Window to the last one. 0 when Window has no owner,
// and also when the chain does not end: the window system never builds a
// loop, but a window destroyed and its handle reused while we walk could.
uintptr_t topmostOwner(uintptr_t window, const TWindowFacts& facts) {
  uintptr_t owner = facts.ownerOf(window, facts.context);
  if (owner == 0) return 0;
  for (int steps = 0; steps < TAnalizer::MaxOwnerChain; ++steps) {
    const uintptr_t next = facts.ownerOf(owner, facts.context);
    if (next == 0) return owner;
    owner = next;
  }
  return 0;
}

}  // namespace

void TAnalizer::Reset() {
  for (int i = 0; i < Capacity; ++i) {
    Windows[i] = 0;
    Scores[i] = 0;
  }
  Count = 0;
}

bool TAnalizer::Add(uintptr_t window) {
  if (Count >= Capacity) return false;
  Windows[Count] = window;
  Scores[Count] = 0;
  ++Count;
  return true;
}

void TAnalizer::Score(const TWindowFacts& facts) {
  for (int i = 0; i < Count; ++i) {
    const uintptr_t owner = topmostOwner(Windows[i], facts);
    if (owner == 0) continue;
    for (int j = 0; j < Count; ++j)
      if (Windows[j] == owner) ++Scores[j];
  }
  // At most 2000 owned windows: 4 * 2000 + 3 still fits 16 bits.
  for (int i = 0; i < Count; ++i) {
    uint16_t score = static_cast<uint16_t>(Scores[i] << 2);
    if (facts.titled(Windows[i], facts.context)) score |= 2;
    if (facts.visible(Windows[i], facts.context)) score |= 1;
    Scores[i] = score;
  }
}

uintptr_t TAnalizer::MainWindow() const {
  uintptr_t best = 0;
  uint16_t bestScore = 0;
  for (int i = 0; i < Count; ++i) {
    if (Scores[i] > bestScore) {
      bestScore = Scores[i];
      best = Windows[i];
    }
  }
  return best;
}
