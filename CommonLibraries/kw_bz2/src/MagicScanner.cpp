#include "MagicScanner.h"

#include "StreamBits.h"

namespace kw {
namespace bz2 {

namespace {

const std::uint64_t kMask48 = (1ull << kMagicBits) - 1;

// Bytes 1 and 2 of the 8 bytes that hold the magic starting at bit `shift`
// of byte 0.
unsigned PairUnder(std::uint64_t magic, unsigned shift) { return static_cast<unsigned>(magic >> (24 + shift)) & 0xFFFF; }

} // namespace

MagicScanner::MagicScanner() : pairs_(65536, false)
{
    for (unsigned shift = 0; shift < 8; ++shift) {
        pairs_[PairUnder(kBlockMagic, shift)] = true;
        pairs_[PairUnder(kEndMagic, shift)] = true;
    }
}

void MagicScanner::CheckAt(const unsigned char* p, std::uint64_t byte, std::uint64_t limitBit,
                           std::vector<MagicHit>& hits) const
{
    const std::uint64_t word = LoadBigEndian64(p);
    for (unsigned shift = 0; shift < 8; ++shift) {
        const std::uint64_t bits = (word >> (16 - shift)) & kMask48;
        const std::uint64_t bit = byte * 8 + shift;
        if (bit + kMagicBits > limitBit) break;
        if (bits == kBlockMagic)
            hits.push_back(MagicHit{bit, false});
        else if (bits == kEndMagic)
            hits.push_back(MagicHit{bit, true});
    }
}

void MagicScanner::Scan(const InputWindow& window, bool final, std::vector<MagicHit>& hits)
{
    if (next_ < window.Begin()) next_ = window.Begin();
    const std::uint64_t end = window.End();
    // Full 8-byte words first, straight from the window.
    if (end >= 8) {
        const std::uint64_t stop = end - 7;
        const unsigned char* p = window.At(next_);
        for (std::uint64_t byte = next_; byte < stop; ++byte, ++p)
            if (pairs_[static_cast<unsigned>(p[1]) << 8 | p[2]]) CheckAt(p, byte, end * 8, hits);
        if (stop > next_) next_ = stop;
    }
    if (!final) return;
    // The last bytes, padded with zeros; a magic must still end inside the data.
    for (; next_ < end; ++next_) {
        unsigned char word[8] = {};
        for (std::uint64_t i = 0; i < 8 && next_ + i < end; ++i) word[i] = *window.At(next_ + i);
        CheckAt(word, next_, end * 8, hits);
    }
}

} // namespace bz2
} // namespace kw
