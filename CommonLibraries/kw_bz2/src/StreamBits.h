// Bit-level facts of the bzip2 format and a window over the compressed
// bytes read so far, addressed by absolute position in the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kw {
namespace bz2 {

// Every block starts with this 48-bit value, the stream's end with the other;
// neither is aligned to a byte.
const std::uint64_t kBlockMagic = 0x314159265359ull;
const std::uint64_t kEndMagic = 0x177245385090ull;
const unsigned kMagicBits = 48;
// "BZh" and the level digit.
const unsigned kHeaderBytes = 4;
// The end magic, the combined CRC, then padding to a byte.
const unsigned kTrailerBits = 48 + 32;

// The compressed bytes from some position on; older bytes can be dropped.
class InputWindow {
public:
    void Append(const char* bytes, std::size_t count);
    // Forgets the bytes before absolute position `byte` (when worth moving).
    void DropBefore(std::uint64_t byte);

    std::uint64_t Begin() const { return base_; }
    std::uint64_t End() const { return base_ + bytes_.size(); }
    const unsigned char* At(std::uint64_t byte) const { return bytes_.data() + (byte - base_); }

    // `count` (at most 57) bits from absolute bit position `bit`, as a number;
    // bits past the end read as zero.
    std::uint64_t Bits(std::uint64_t bit, std::size_t count) const;

private:
    std::vector<unsigned char> bytes_;
    std::uint64_t base_ = 0;
};

// `count` (1 to 57) bits of `bytes` from bit `bit` on, as a number; bits past
// `size` read as zero.
std::uint64_t BitsAt(const unsigned char* bytes, std::size_t size, std::uint64_t bit, unsigned count);

// The bytes from `p` as a big-endian number.
inline std::uint64_t LoadBigEndian64(const unsigned char* p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

} // namespace bz2
} // namespace kw
