// The Windows timestamp: 100-ns ticks since 1601-01-01 UTC, low half first.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>
typedef struct _FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
} FILETIME;
#endif
