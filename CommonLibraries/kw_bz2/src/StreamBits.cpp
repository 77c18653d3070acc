#include "StreamBits.h"

#include <algorithm>

namespace kw {
namespace bz2 {

void InputWindow::Append(const char* bytes, std::size_t count)
{
    bytes_.insert(bytes_.end(), reinterpret_cast<const unsigned char*>(bytes),
                  reinterpret_cast<const unsigned char*>(bytes) + count);
}

void InputWindow::DropBefore(std::uint64_t byte)
{
    if (byte <= base_) return;
    const std::size_t drop = static_cast<std::size_t>(std::min<std::uint64_t>(byte, End()) - base_);
    // Only once the rest is no larger than what goes: each byte moves at
    // most once on average.
    if (drop * 2 < bytes_.size()) return;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
}

std::uint64_t InputWindow::Bits(std::uint64_t bit, std::size_t count) const
{
    return BitsAt(bytes_.data(), bytes_.size(), bit - base_ * 8, static_cast<unsigned>(count));
}

std::uint64_t BitsAt(const unsigned char* bytes, std::size_t size, std::uint64_t bit, unsigned count)
{
    const std::uint64_t first = bit / 8;
    unsigned char word[8] = {};
    for (unsigned i = 0; i < 8; ++i)
        if (first + i < size) word[i] = bytes[first + i];
    const unsigned shift = static_cast<unsigned>(bit % 8);
    return (LoadBigEndian64(word) << shift) >> (64 - count);
}

} // namespace bz2
} // namespace kw
