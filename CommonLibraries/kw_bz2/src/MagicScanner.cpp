#include "MagicScanner.h"

#include "StreamBits.h"

namespace kw {
namespace bz2 {

namespace {

const std::uint64_t kMask48 = (1ull << kMagicBits) - 1;

// Bytes `at` and `at` + 1 of the 8 bytes that hold the magic starting at bit
// `shift` of byte 0 (`at` is 1 or 2, so both lie inside it).
unsigned PairUnder(std::uint64_t magic, unsigned shift, unsigned at)
{
    return static_cast<unsigned>(magic >> (32 + shift - 8 * at)) & 0xFFFF;
}

} // namespace

MagicScanner::MagicScanner() : pairs_(65536, 0)
{
    for (unsigned shift = 0; shift < 8; ++shift)
        for (unsigned at = 1; at <= 2; ++at) {
            pairs_[PairUnder(kBlockMagic, shift, at)] = 1;
            pairs_[PairUnder(kEndMagic, shift, at)] = 1;
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
    // Magics starting at bytes [next_, stop) are looked for in full 8-byte
    // words straight from the window. The pair at (window-relative) even
    // position p stands for starts p - 2 and p - 1: every start has one.
    if (next_ + 7 < end) {
        const std::uint64_t stop = end - 7;
        const std::uint64_t base = window.Begin();
        const unsigned char* bytes = window.At(base);
        for (std::uint64_t p = (next_ - base + 2) & ~std::uint64_t(1); base + p - 2 < stop; p += 2) {
            if (!pairs_[static_cast<unsigned>(bytes[p]) << 8 | bytes[p + 1]]) continue;
            for (std::uint64_t start = base + p - 2; start < base + p; ++start)
                if (start >= next_ && start < stop) CheckAt(bytes + (start - base), start, end * 8, hits);
        }
        next_ = stop;
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
