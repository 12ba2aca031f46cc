// Token lists, key=value lookups and replacement on arbitrary texts.
#include "FuzzCommon.h"
#include "util/Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> p = Parts(data, size, 4);
  const std::string& list = p[0];
  const int index = p[3].empty() ? 0 : int(uint8_t(p[3][0]) % 40);
  const int count = ListTokenCount(list);
  ListGetToken(list, index, "def");
  ListGetValue(list, p[1], "def");
  std::string copy = list;
  std::string value = p[2];
  if (!copy.empty())
    for (char& c : value)
      if (c == copy[0]) c = copy[0] == 'x' ? 'y' : 'x';
  ListSetToken(copy, index, value);
  if (count > 0 && ListGetToken(copy, index, "") != value && !value.empty()) __builtin_trap();
  ReplaceAll(p[0], p[1], p[2]);
  ReplaceAllText(p[0], p[1], p[2]);
  return 0;
}
