#pragma once

// TAVRIN_EXPORT marks the module's entry points. Inside the module they are
// exported (default visibility, dllexport on Windows); a host that links the
// module at build time sees them as imports. Everything else is hidden.
#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(TAVRIN_BUILDING_MODULE)
#    define TAVRIN_EXPORT __declspec(dllexport)
#  else
#    define TAVRIN_EXPORT __declspec(dllimport)
#  endif
#else
#  define TAVRIN_EXPORT __attribute__((visibility("default")))
#endif
