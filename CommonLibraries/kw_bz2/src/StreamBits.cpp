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
    // Moving the rest costs as much as what it frees: only once it is worth it.
    if (drop < (1u << 20) && drop * 2 < bytes_.size()) return;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
    base_ += drop;
}

std::uint64_t InputWindow::Bits(std::uint64_t bit, unsigned count) const
{
    const std::uint64_t first = bit / 8;
    unsigned char tail[8] = {};
    for (unsigned i = 0; i < 8; ++i)
        if (first + i < End()) tail[i] = *At(first + i);
    const unsigned shift = static_cast<unsigned>(bit % 8);
    return (LoadBigEndian64(tail) << shift) >> (64 - count);
}

} // namespace bz2
} // namespace kw
