// The override text passed between agent programs, and token descrambling.
#include "FuzzCommon.h"
#include "package/PackX.h"
#include "settings/Global.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ApplyOverrideText(text);
  for (int n = 1; n <= kOverrideCount; ++n) Override(n);
  std::string again = OverrideText();
  ApplyOverrideText(again);
  if (OverrideText() != again) __builtin_trap();
  Descramble(text);
  if (size >= 4) {
    uint32_t seed = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    std::string token = text.substr(4, 200);
    bool plain = true;
    for (char c : token) plain = plain && c > ' ' && c < 127 && c != '|';
    if (plain && Descramble(Scramble(token, seed)) != token) __builtin_trap();
  }
  return 0;
}
