// Finds the block and end-of-stream magics at any bit position. A hit is
// only a candidate: the same 48 bits may occur inside compressed data.
#pragma once

#include <cstdint>
#include <vector>

namespace kw {
namespace bz2 {

class InputWindow;

struct MagicHit {
    std::uint64_t bit = 0; // absolute position of the magic's first bit
    bool streamEnd = false;

    bool operator==(const MagicHit& o) const { return bit == o.bit && streamEnd == o.streamEnd; }
};

class MagicScanner {
public:
    MagicScanner();

    // Scans the window's bytes not scanned yet, appending hits in stream order.
    // Until `final`, the last 7 bytes wait for the bytes after them.
    void Scan(const InputWindow& window, bool final, std::vector<MagicHit>& hits);

    // Where the next scan starts (bytes before it may leave the window).
    std::uint64_t Position() const { return next_; }

private:
    void CheckAt(const unsigned char* p, std::uint64_t byte, std::uint64_t limitBit, std::vector<MagicHit>& hits) const;

    // Whether two bytes at an even position can lie wholly inside a magic
    // that starts 1 or 2 bytes before them (one of the two always holds, with
    // any of the 8 shifts). One lookup per two bytes rules out nearly every
    // position.
    std::vector<unsigned char> pairs_;
    std::uint64_t next_ = 0;
};

} // namespace bz2
} // namespace kw
