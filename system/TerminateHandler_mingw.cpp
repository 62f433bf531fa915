// Built into the shipped MinGW binaries only. libstdc++'s default terminate
// handler prints the dying exception's demangled type to stderr, which a GUI
// program does not have; its demangler alone is some 60 KB. Ending the same
// way without the print keeps the binaries small.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
