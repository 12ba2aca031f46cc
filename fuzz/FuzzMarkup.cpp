// The message box's mark-up: plain text and bold ranges.
#include "FuzzCommon.h"
#include "msgbox/Markup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string plain = MarkupToText(text);
  std::vector<uint16_t> starts, ends;
  ExtractBoldRanges(text, starts, ends);
  if (starts.size() != ends.size()) __builtin_trap();
  for (size_t i = 0; i < starts.size(); ++i)
    if (starts[i] >= ends[i] || ends[i] > text.size()) __builtin_trap();
  return 0;
}
