// The archive stream's layout, shared by the loader and the producer's
// writer: an 8-byte prologue, then node records (length, type, creation and
// modification time), each directory's entry records (type, offset of the
// child's record, name length, the name padded to 4 bytes) and each file's
// content padded to 4 bytes. Every word is 32-bit little-endian.
#pragma once

#include <kw/FileTime.h>

#include <cstdint>

namespace kw {
namespace archive {
namespace format {

constexpr unsigned kPrologueSize = 8;
constexpr unsigned kNodeRecordSize = 24;
constexpr unsigned kEntryRecordSize = 12;
// The longest name an entry carries, in bytes.
constexpr unsigned kMaxNameSize = 256;

constexpr std::uint32_t RoundUpTo4(std::uint32_t n) { return (n + 3u) & ~3u; }

inline std::uint32_t LoadLe32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void StoreLe32(unsigned char* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline FILETIME LoadFileTime(const unsigned char* p)
{
    FILETIME time;
    time.dwLowDateTime = LoadLe32(p);
    time.dwHighDateTime = LoadLe32(p + 4);
    return time;
}

} // namespace format
} // namespace archive
} // namespace kw
