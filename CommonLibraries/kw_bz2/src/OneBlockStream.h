// A block cut out of a stream, made into a stream of its own that libbz2
// decodes alone: the header with the stream's level, the block's bits moved
// to start right after it, the end magic, and as the combined CRC the block's
// own CRC (what a stream of one block carries).
#pragma once

#include <cstdint>
#include <vector>

namespace kw {
namespace bz2 {

class InputWindow;

// The bytes that hold one block's bits, copied as they are: moving the bits
// is left to the thread that decodes the block.
struct BlockBits {
    std::vector<unsigned char> bytes;
    unsigned firstBit = 0;   // where the block starts in bytes[0]
    std::uint64_t count = 0; // the block's length in bits
};

// Bits [from, to) of the window: one block, starting with its magic.
BlockBits CopyBlockBits(const InputWindow& window, std::uint64_t from, std::uint64_t to);

std::vector<char> MakeOneBlockStream(const BlockBits& block, char level);

// The block CRC stored right after the block magic at `blockBit`.
std::uint32_t StoredBlockCrc(const InputWindow& window, std::uint64_t blockBit);

} // namespace bz2
} // namespace kw
