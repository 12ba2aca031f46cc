// MsgBoxLogic: sizes, buttons and keys of the message box, without windows.
#include "msgbox/MsgBoxLogic.h"

#include "msgbox/Markup.h"
#include "util/Utils.h"

int BoxButtonsOf(uint32_t flags, BoxButton out[kBoxSlots]) {
  static const BoxButton kOK = {kCaptionOK, kIdOK};
  static const BoxButton kCancel = {kCaptionCancel, kIdCancel};
  static const BoxButton kYes = {kCaptionYes, kIdYes};
  static const BoxButton kNo = {kCaptionNo, kIdNo};
  static const BoxButton kAbort = {kCaptionAbort, kIdAbort};
  static const BoxButton kRetry = {kCaptionRetry, kIdRetry};
  static const BoxButton kIgnore = {kCaptionIgnore, kIdIgnore};
  int n = 0;
  switch (flags & kBoxButtonSetMask) {
    case 0: out[n++] = kOK; break;
    case 1: out[n++] = kOK; out[n++] = kCancel; break;
    case 2: out[n++] = kAbort; out[n++] = kRetry; out[n++] = kIgnore; break;
    case 3: out[n++] = kYes; out[n++] = kNo; out[n++] = kCancel; break;
    case 4: out[n++] = kYes; out[n++] = kNo; break;
    case 5: out[n++] = kRetry; out[n++] = kCancel; break;
    default: break;  // no buttons: only the close box ends it
  }
  return n;
}

int BoxDefaultSlot(uint32_t flags, int buttonCount) {
  const int slot = static_cast<int>((flags & kBoxDefaultMask) >> 8);
  // A default beyond the buttons would leave Enter with nothing to press.
  return slot < buttonCount ? slot : 0;
}

uint32_t BoxEffectiveFlags(uint32_t flags, uint8_t charset) {
  if (charset == 177 || charset == 178) flags |= kBoxRight | kBoxRtlReading;
  return flags;
}

std::string BoxComposeText(const std::string& text, const std::string& caption,
                           bool withHeader) {
  if (!withHeader) return text;
  return "<<b>" + UpperCaseAscii(caption) + "</b><P><P>" + text + "<P>";
}

std::vector<std::string> BoxMeasureLines(const std::string& plain) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (;;) {
    const size_t at = plain.find("\r\n", from);
    std::string line = plain.substr(from, at == std::string::npos ? std::string::npos : at - from);
    lines.push_back(line.empty() ? std::string(" ") : line);
    if (at == std::string::npos) break;
    from = at + 2;
  }
  return lines;
}

BoxSize BoxTextBlock(const std::vector<LineExtent>& lines) {
  BoxSize s = {0, 0};
  for (const LineExtent& l : lines) {
    if (l.width > s.width) s.width = l.width;
    s.height += (l.width / kBoxMaxTextWidth + 1) * l.height;
  }
  if (s.width > kBoxMaxTextWidth) s.width = kBoxMaxTextWidth;
  return s;
}

int BoxHorizontalMargin(int textWidth) { return textWidth < 200 ? 64 : 32; }
int BoxVerticalMargin(int textHeight) { return textHeight < 39 ? 45 : 32; }

BoxSize BoxWindowSize(int textWidth, int textHeight, int cxFrame, int cyFrame,
                      int cyCaption) {
  BoxSize s;
  s.width = textWidth + kBoxBandWidth + 2 * BoxHorizontalMargin(textWidth) + 2 * cxFrame;
  if (s.width < 360) s.width = 360;
  s.height = textHeight + kBoxBarHeight + 2 * BoxVerticalMargin(textHeight) +
             2 * cyFrame + cyCaption;
  return s;
}

void BoxTextOrigin(int clientWidth, int clientHeight, int textWidth,
                   int textHeight, int& x, int& y) {
  // C++ division truncates toward zero, as the layout wants for a client
  // area smaller than the text.
  x = (clientWidth - kBoxBandWidth - textWidth) / 2 + kBoxBandWidth;
  y = (clientHeight - kBoxBarHeight - textHeight) / 2;
}

int BoxArrowSlot(int focusSlot, bool toLeft, const bool exists[kBoxSlots]) {
  const int step = toLeft ? kBoxSlots - 1 : 1;
  int slot = focusSlot < 0 ? (toLeft ? 1 : 0) : (focusSlot + step) % kBoxSlots;
  for (int tries = 0; tries < kBoxSlots; ++tries) {
    if (exists[slot]) return slot;
    slot = (slot + step) % kBoxSlots;
  }
  return -1;
}

int BoxAltSlot(char c, const std::string captions[kBoxSlots],
               const bool exists[kBoxSlots]) {
  const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  for (int slot = 0; slot < kBoxSlots; ++slot) {
    if (!exists[slot] || captions[slot].size() < 2) continue;
    const char second = captions[slot][1];
    if (second == c || second == upper) return slot;
  }
  return -1;
}
