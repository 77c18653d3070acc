// Export macro of the XML library: its public classes are visible, the rest
// stays hidden.
#pragma once

#include <kw/Export.h>

#ifdef KW_XML_BUILDING
#define KW_XML_API KW_DLL_EXPORT
#else
#define KW_XML_API KW_DLL_IMPORT
#endif
