// The stub is built without exceptions; replacing the verbose terminate
// handler keeps the C++ demangler out of the executable.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
