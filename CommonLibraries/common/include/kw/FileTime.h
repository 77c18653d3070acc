// The Windows timestamp: 100-ns ticks since 1601-01-01 UTC, low half first.
// Laid out as the system's FILETIME, which only the Windows environment sees.
#pragma once

#include <cstdint>

namespace kw {

struct FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
};

// The time as one count of ticks, and back.
inline std::uint64_t TicksOf(const FILETIME& time) { return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }
inline FILETIME FileTimeOf(std::uint64_t ticks)
{
    return FILETIME{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}

} // namespace kw
