#include "FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

namespace kwfuzz {

void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace kwfuzz

// Every deliverable compiles the error framework in and exports its error
// interface (so that an error crosses library boundaries), which gives each
// shared library an identical copy of those classes' vtables. ASan's strict
// one-definition check reports such copies; the default level (1) still
// reports globals whose copies differ in size.
extern "C" const char* __asan_default_options() { return "detect_odr_violation=1"; }
