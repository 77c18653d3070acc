// Export macro of the compression library: its handle classes are exported
// while the library is built and imported by its users.
#pragma once

#include <kw/Export.h>

#ifdef KW_BZ2_BUILDING
#define KW_BZ2_API KW_DLL_EXPORT
#else
#define KW_BZ2_API KW_DLL_IMPORT
#endif
