// The module's version, readable without loading it. The library exports no
// symbol beyond the host's entry points, so the version travels in two
// places a person or a script can look at: the file name and SONAME
// (libtavrin.so.1.0.0, libtavrin.so.1) and this string in .rodata, which
// `strings libtavrin.so | grep 'Tavrin module version'` finds.

#include "tavrin_version.h"

#if defined(__GNUC__)
// Nothing refers to the string; `used` keeps the compiler from dropping it.
#  define TAVRIN_KEEP_IN_BINARY __attribute__((used))
#else
#  define TAVRIN_KEEP_IN_BINARY
#endif

namespace {
TAVRIN_KEEP_IN_BINARY const char moduleVersionText[] = "Tavrin module version " TAVRIN_VERSION_STRING;
}
