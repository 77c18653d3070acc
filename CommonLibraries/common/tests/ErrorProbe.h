#pragma once
#include <kw/Export.h>

// Throws an error of a family private to the probe library, raised with a location.
KW_DLL_EXPORT void kw_probe_throw_located();
