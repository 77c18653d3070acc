// The Windows timestamp: 100-ns ticks since 1601-01-01 UTC, low half first.
// Laid out as the system's FILETIME, which only the Windows environment sees.
#pragma once

#include <cstdint>

namespace kw {

struct FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
};

} // namespace kw
