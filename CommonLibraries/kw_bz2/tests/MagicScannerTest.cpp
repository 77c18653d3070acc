// The block finder's bit scanner against a plain bit-by-bit search.
#include "../src/MagicScanner.h"
#include "../src/StreamBits.h"
#include "Bz2TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kw::bz2;

namespace {

void Plant(std::string& bytes, std::uint64_t bit, std::uint64_t magic)
{
    for (unsigned i = 0; i < kMagicBits; ++i) {
        const std::uint64_t at = bit + i;
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (at % 8));
        char& byte = bytes[static_cast<std::size_t>(at / 8)];
        if (magic >> (kMagicBits - 1 - i) & 1)
            byte = static_cast<char>(byte | mask);
        else
            byte = static_cast<char>(byte & ~mask);
    }
}

std::vector<MagicHit> NaiveSearch(const std::string& bytes)
{
    std::vector<MagicHit> hits;
    std::uint64_t window = 0;
    const std::uint64_t mask = (1ull << kMagicBits) - 1;
    for (std::uint64_t bit = 0; bit < bytes.size() * 8; ++bit) {
        window = (window << 1 | (static_cast<unsigned char>(bytes[bit / 8]) >> (7 - bit % 8) & 1)) & mask;
        if (bit + 1 < kMagicBits) continue;
        const std::uint64_t start = bit + 1 - kMagicBits;
        if (window == kBlockMagic) hits.push_back(MagicHit{start, false});
        if (window == kEndMagic) hits.push_back(MagicHit{start, true});
    }
    return hits;
}

} // namespace

TEST(MagicScanner, FindsBothMagicsAtEveryBitOffsetWhateverTheChunks)
{
    std::string bytes = kw_bz2_test::RandomBytes(64 * 1024, 7);
    std::vector<std::uint64_t> planted;
    for (unsigned shift = 0; shift < 8; ++shift) {
        planted.push_back(1000 * 8 * (shift + 1) + shift);
        Plant(bytes, planted.back(), kBlockMagic);
        planted.push_back(1000 * 8 * (shift + 1) + 500 * 8 + shift);
        Plant(bytes, planted.back(), kEndMagic);
    }
    // Back to back, and ending on the very last bit of the input.
    Plant(bytes, 20000 * 8 + 3, kBlockMagic);
    Plant(bytes, 20000 * 8 + 3 + kMagicBits, kBlockMagic);
    Plant(bytes, bytes.size() * 8 - kMagicBits, kEndMagic);
    const std::vector<MagicHit> expected = NaiveSearch(bytes);
    ASSERT_GE(expected.size(), planted.size() + 3);

    for (const std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(4093), bytes.size()}) {
        InputWindow window;
        MagicScanner scanner;
        std::vector<MagicHit> hits;
        kw_bz2_test::InPieces(bytes, chunk, [&](const char* piece, unsigned n, bool) {
            window.Append(piece, n);
            scanner.Scan(window, false, hits);
            // What was scanned may leave the window.
            window.DropBefore(scanner.Position());
        });
        scanner.Scan(window, true, hits);
        EXPECT_TRUE(hits == expected) << "chunk " << chunk << ": " << hits.size() << " hits";
    }
}
