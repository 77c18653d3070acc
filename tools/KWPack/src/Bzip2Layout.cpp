#include "Bzip2Layout.h"

#include "PackError.h"

namespace kwpack {
namespace {

typedef std::vector<unsigned char> Bytes;

constexpr std::uint64_t kBlockMagic = 0x314159265359ULL;
constexpr std::uint64_t kEndBits = 48 + 32;

std::uint32_t Rotate(std::uint32_t crc, unsigned by)
{
    by %= 32;
    return by ? crc << by | crc >> (32 - by) : crc;
}

// How the stream folds block CRCs into its own, leaving out the one at `skipped`.
std::uint32_t FoldCrcs(const std::vector<std::uint32_t>& crcs, std::size_t skipped)
{
    std::uint32_t combined = 0;
    for (std::size_t i = 0; i < crcs.size(); ++i)
        if (i != skipped) combined = Rotate(combined, 1) ^ crcs[i];
    return combined;
}

// Positions where a block magic starting at bit `a` of a byte puts `value`
// into the next byte, as a bit mask of `a`: a cheap filter before the full
// 48-bit comparison.
struct MagicFilter {
    unsigned char alignments[256] = {};
    MagicFilter()
    {
        for (int a = 0; a < 8; ++a) alignments[kBlockMagic >> (32 + a) & 0xFF] |= static_cast<unsigned char>(1 << a);
    }
};

// The CRC of every block magic found in [header, end). Compressed data can
// hold the magic's bit pattern by chance, so the caller checks the result.
std::vector<std::uint32_t> BlockCrcs(const Bytes& bytes, std::uint64_t end)
{
    static const MagicFilter filter;
    std::vector<std::uint32_t> crcs;
    for (std::size_t i = kBzip2HeaderBits / 8; i + 1 < bytes.size(); ++i) {
        const unsigned mask = filter.alignments[bytes[i + 1]];
        for (int a = 0; mask >> a; ++a) {
            const std::uint64_t pos = std::uint64_t(i) * 8 + unsigned(a);
            if (!(mask >> a & 1) || pos + 48 + 32 > end) continue;
            if (ReadBits(bytes, pos, 48) == kBlockMagic) crcs.push_back(std::uint32_t(ReadBits(bytes, pos + 48, 32)));
        }
    }
    return crcs;
}

} // namespace

std::uint64_t ReadBits(const Bytes& bytes, std::uint64_t pos, int count)
{
    const std::size_t first = std::size_t(pos >> 3);
    const int skip = int(pos & 7), span = (skip + count + 7) / 8;
    std::uint64_t value = 0;
    for (int i = 0; i < span; ++i) value = value << 8 | (first + i < bytes.size() ? bytes[first + i] : 0);
    return value >> (span * 8 - skip - count) & ((std::uint64_t(1) << count) - 1);
}

std::uint32_t FoldAfter(std::uint32_t combined, unsigned count, std::uint32_t crc)
{
    // Rotation distributes over XOR: folding k blocks onto `combined` rotates
    // it k times and XORs the blocks' own fold.
    return Rotate(combined, count) ^ crc;
}

Bzip2Layout LocateBlocks(const Bytes& bytes)
{
    Bzip2Layout layout;
    const std::uint64_t total = std::uint64_t(bytes.size()) * 8;
    if (total < kBzip2HeaderBits + kEndBits || ReadBits(bytes, 0, 24) != 0x425A68)  // "BZh"
        throw PackError("bzip2 produced no stream for a chunk of the archive");
    // The end marker is followed by zero bits up to the byte boundary; the
    // magic cannot match itself shifted by fewer than eight bits.
    for (int pad = 0; pad < 8 && !layout.end; ++pad) {
        const std::uint64_t at = total - kEndBits - unsigned(pad);
        if (ReadBits(bytes, at, 48) == kBzip2EndMagic && ReadBits(bytes, total - unsigned(pad), pad) == 0)
            layout.end = at;
    }
    if (!layout.end) throw PackError("bzip2 produced a chunk stream without its end marker");
    layout.crc = std::uint32_t(ReadBits(bytes, layout.end + 48, 32));

    // The stream's CRC folds the CRCs of its true blocks; a magic found by
    // chance inside a block breaks the fold, and leaving it out mends it.
    const std::vector<std::uint32_t> crcs = BlockCrcs(bytes, layout.end);
    if (FoldCrcs(crcs, crcs.size()) == layout.crc) {
        layout.blocks = unsigned(crcs.size());
        return layout;
    }
    for (std::size_t skipped = 1; skipped < crcs.size(); ++skipped)
        if (FoldCrcs(crcs, skipped) == layout.crc) {
            layout.blocks = unsigned(crcs.size() - 1);
            return layout;
        }
    throw PackError("cannot find the block boundaries in a compressed chunk of the archive");
}

} // namespace kwpack
