// The runtime's default terminate handler writes the escaping exception's name, demangled, to a
// console that the watchdog and the DLL's hosts mostly do not have, and brings 45 KiB of demangler
// into each shipped binary for it. This one ends the process the same way, without the text.
// Compiled into the executable and the DLL themselves, so that the runtime's own is never linked.

#include <cstdlib>

#if defined(__GLIBCXX__)
namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
#endif
