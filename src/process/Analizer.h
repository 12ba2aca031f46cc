// Analizer: picks a program's main window out of its top-level windows.
//
// The windows are collected in Z order; each is then scored from what the
// window system says about it: how many of the collected windows it owns
// (directly or through a chain of owners), whether it has a title, whether it
// is visible. The best score wins; the earliest window wins a tie. A window
// that owns nothing and is neither titled nor visible never wins.
//
// Portable: window handles are opaque pointer-sized values and the facts
// come through a small table of functions, so the scoring runs and is tested
// without a window system.
#ifndef KORVAN_PROCESS_ANALIZER_H
#define KORVAN_PROCESS_ANALIZER_H

#include <cstdint>

// What the window system knows about one window. Context is handed back.
struct TWindowFacts {
  uintptr_t (*ownerOf)(uintptr_t window, void* context);  // 0: no owner
  bool (*titled)(uintptr_t window, void* context);
  bool (*visible)(uintptr_t window, void* context);
  void* context;
};

class TAnalizer {
 public:
  static const int Capacity = 2001;

  uintptr_t Windows[Capacity];
  uint16_t Scores[Capacity];
  int32_t Count;
  // The process whose windows are collected; the collector compares it.
  uint32_t ProcessId;

  TAnalizer() { Reset(); }
  // Clears windows and scores; ProcessId is left as it is.
  void Reset();
  // Appends Window; false (and nothing stored) once Capacity is reached.
  bool Add(uintptr_t window);
  // Scores every collected window: 4 for each collected window whose topmost
  // owner it is, +2 when titled, +1 when visible.
  void Score(const TWindowFacts& facts);
  // The window with the highest score, earliest first on a tie; 0 when every
  // score is 0.
  uintptr_t MainWindow() const;

  // Owner chains longer than this are taken as a loop and count for nothing.
  static const int MaxOwnerChain = 4096;
};

#endif
