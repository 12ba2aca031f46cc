// Markup: the small mark-up of every user-facing text, and the form of the
// button-caption list that each message box takes.
//
//   \\n  (backslash, backslash, n)  line break (CR LF), case-sensitive
//   \\t                             TAB, case-sensitive
//   <P>                             line break, any case
//   <T>                             TAB, any case
//   <B> ... </B>                    bold, any case; no nesting
//
// Any other angle-bracket word is plain text. Only the message box turns
// mark-up into text; nothing else strips it.
#ifndef KORVAN_MSGBOX_MARKUP_H
#define KORVAN_MSGBOX_MARKUP_H

#include <cstdint>
#include <string>
#include <vector>

// Seven captions, always in this order: OK, Cancel, Yes, No, Abort, Retry,
// Ignore. "&" marks the accelerator.
constexpr const char* DefaultButtonList = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|";

enum ButtonCaptionIndex {
  kCaptionOK = 0,
  kCaptionCancel = 1,
  kCaptionYes = 2,
  kCaptionNo = 3,
  kCaptionAbort = 4,
  kCaptionRetry = 5,
  kCaptionIgnore = 6
};

// The line and tab mark-up replaced; bold tags left in place.
std::string MarkupToText(const std::string& text);

// Replaces Text by its plain form and returns the bold ranges as 0-based
// offsets into it, end exclusive, in the order the opening tags came. A text
// starting with "<<b>" loses its first "<" (the message box's header prefix).
// Offsets are 16-bit: a range that would end past 65535 is left out rather
// than wrapped onto the wrong characters. Empty ranges are not recorded.
void ExtractBoldRanges(std::string& text, std::vector<uint16_t>& starts,
                       std::vector<uint16_t>& ends);

#endif
