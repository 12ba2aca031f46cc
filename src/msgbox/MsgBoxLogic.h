// MsgBoxLogic: the message box's rules that need no window: its text with the
// caption header, the buttons of each set, the sizes and places of the text
// and the box, and which button the keys pick. KMsgBoxWin.cpp applies them.
#ifndef KORVAN_MSGBOX_MSGBOXLOGIC_H
#define KORVAN_MSGBOX_MSGBOXLOGIC_H

#include <cstdint>
#include <string>
#include <vector>

// Style bits read from the flags (the Win32 message-box values).
constexpr uint32_t kBoxButtonSetMask = 0xF;
constexpr uint32_t kBoxIconMask = 0xF0;
constexpr uint32_t kBoxDefaultMask = 0xF00;
constexpr uint32_t kBoxRight = 0x80000;       // MB_RIGHT
constexpr uint32_t kBoxRtlReading = 0x100000; // MB_RTLREADING

// Button identifiers (the Win32 IDOK ... IDNO values); 0 = closed without one.
constexpr int kIdClosed = 0;
constexpr int kIdOK = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

constexpr int kBoxSlots = 3;

struct BoxButton {
  int captionIndex;  // into the seven-caption button list
  int id;            // identifier the box returns for it
};

// Buttons of the set in Flags, left to right; returns how many (0 to 3).
int BoxButtonsOf(uint32_t flags, BoxButton out[kBoxSlots]);

// Slot of the first default button: 0, 1 or 2 from the default-button bits;
// a slot that holds no button falls back to the first.
int BoxDefaultSlot(uint32_t flags, int buttonCount);

// Hebrew (177) and Arabic (178) texts read right to left, right-aligned.
uint32_t BoxEffectiveFlags(uint32_t flags, uint8_t charset);

// The marked-up text the box shows: with the header, the caption in bold
// capitals, an empty line, then the text and a final line break.
std::string BoxComposeText(const std::string& text, const std::string& caption,
                           bool withHeader);

// The plain text cut at CR LF for measuring; an empty line (and an empty
// text) is measured as one blank so that it still has a height.
std::vector<std::string> BoxMeasureLines(const std::string& plain);

struct LineExtent {
  int width;
  int height;
};
struct BoxSize {
  int width;
  int height;
};

constexpr int kBoxMaxTextWidth = 600;
constexpr int kBoxBandWidth = 54;
constexpr int kBoxBarHeight = 36;

// Text block from its measured lines: the widest line, at most 600 pixels,
// and the height with every line taking (width div 600 + 1) rows.
BoxSize BoxTextBlock(const std::vector<LineExtent>& lines);

// Outer size of the box around a text control of Wt x Ht pixels.
BoxSize BoxWindowSize(int textWidth, int textHeight, int cxFrame, int cyFrame,
                      int cyCaption);
int BoxHorizontalMargin(int textWidth);
int BoxVerticalMargin(int textHeight);

// Top-left of the text control in a client area of Cw x Ch: centred right of
// the band and above the button bar.
void BoxTextOrigin(int clientWidth, int clientHeight, int textWidth,
                   int textHeight, int& x, int& y);

// Slot an arrow key moves the default to, from the focused slot (-1 for
// none): one to the left or right, wrapping over the three slots and passing
// over empty ones. -1 when there is no button at all.
int BoxArrowSlot(int focusSlot, bool toLeft, const bool exists[kBoxSlots]);

// Slot whose caption answers Alt+C: the second character of the caption
// (after its "&") is C or C upper-cased. The left-most match wins; -1 none.
int BoxAltSlot(char c, const std::string captions[kBoxSlots],
               const bool exists[kBoxSlots]);

#endif
