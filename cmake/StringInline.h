// Forced into every Windows translation unit: std::string's members are
// instantiated here, from headers built without exceptions and for size,
// instead of linking the library's prebuilt instantiations, which bring the
// exception unwinder into the download with them.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
