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

// Bits [from, to) of the window: one block, starting with its magic.
std::vector<char> MakeOneBlockStream(const InputWindow& window, std::uint64_t from, std::uint64_t to, char level);

// The block CRC stored right after the block magic at `blockBit`.
std::uint32_t StoredBlockCrc(const InputWindow& window, std::uint64_t blockBit);

} // namespace bz2
} // namespace kw
