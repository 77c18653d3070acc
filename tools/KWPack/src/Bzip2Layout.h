// Where the blocks of one bzip2 stream lie, at bit granularity: a stream is
// "BZh" and the level digit, then blocks, each starting with the 48-bit
// magic 0x314159265359 followed by its 32-bit CRC, then the 48-bit end
// magic 0x177245385090 followed by the stream's CRC, which folds the block
// CRCs in order (combined = rotate-left-1(combined) ^ block CRC), and zero
// bits up to the byte boundary. Joining streams into one needs no more.
#pragma once

#include <cstdint>
#include <vector>

namespace kwpack {

constexpr std::uint64_t kBzip2HeaderBits = 32;
constexpr std::uint64_t kBzip2EndMagic = 0x177245385090ULL;

struct Bzip2Layout {
    std::uint64_t end = 0;  // the bit where the end marker begins; the blocks lie in [header, end)
    unsigned blocks = 0;
    std::uint32_t crc = 0;  // the stream's combined CRC
};

// The layout of one complete stream; raises PackError for bytes that are none.
Bzip2Layout LocateBlocks(const std::vector<unsigned char>& stream);

// `count` (at most 56) bits of `bytes` from bit `pos`, the first bit the
// most significant; bits past the end read as zero.
std::uint64_t ReadBits(const std::vector<unsigned char>& bytes, std::uint64_t pos, int count);

// The combined CRC after `count` more blocks whose own fold is `crc`.
std::uint32_t FoldAfter(std::uint32_t combined, unsigned count, std::uint32_t crc);

} // namespace kwpack
