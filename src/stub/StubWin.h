// The stub window: the clock of the program (its timer starts the flows), the
// agent's mailbox for control messages, and the target of progress reports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

extern HWND StubWindow;
extern HWND StatusLabel;
extern HWND ProgressBar;

const UINT kMsgTicksToLive = WM_USER + 99;  // 1123
const UINT kMsgSetNotify = WM_USER + 100;   // 1124
const UINT kMsgQuery = WM_USER + 101;       // 1125

void RunStubWindow();

// Kind 0: range 0..RangeMax, position, step; Kind 1: one step.
void ProgressCallback(int kind, int zero, int rangeMax, int position, int step, const std::string& text);

void PostToNotifyWindow(WPARAM wParam, LPARAM lParam);
int32_t AnswerQuery(WPARAM code, LPARAM value);

// The stub's one-shot flow on the first tick.
void StubStep(HWND window);
