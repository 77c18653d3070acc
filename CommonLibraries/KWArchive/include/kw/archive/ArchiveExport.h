// Export marker of the archive library: defined while the library itself is
// compiled, so its classes are exported there and imported by its users.
#pragma once

#include <kw/Export.h>

#ifdef KW_ARCHIVE_BUILDING
#define KW_ARCHIVE_API KW_DLL_EXPORT
#else
#define KW_ARCHIVE_API KW_DLL_IMPORT
#endif
