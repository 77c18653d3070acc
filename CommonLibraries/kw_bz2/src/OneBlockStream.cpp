#include "OneBlockStream.h"

#include "StreamBits.h"

#include <algorithm>

namespace kw {
namespace bz2 {

namespace {

// Appends bits to a byte buffer, most significant bit first.
class BitWriter {
public:
    explicit BitWriter(std::vector<char>& out) : out_(out) {}

    void Put(std::uint64_t value, unsigned count)
    {
        while (count > 0) {
            const unsigned room = 8 - used_;
            const unsigned n = count < room ? count : room;
            const unsigned chunk = static_cast<unsigned>(value >> (count - n)) & ((1u << n) - 1);
            if (used_ == 0) out_.push_back(0);
            out_.back() = static_cast<char>(static_cast<unsigned char>(out_.back()) | chunk << (room - n));
            used_ = (used_ + n) % 8;
            count -= n;
        }
    }

private:
    std::vector<char>& out_;
    unsigned used_ = 0;
};

} // namespace

std::uint32_t StoredBlockCrc(const InputWindow& window, std::uint64_t blockBit)
{
    return static_cast<std::uint32_t>(window.Bits(blockBit + kMagicBits, 32));
}

BlockBits CopyBlockBits(const InputWindow& window, std::uint64_t from, std::uint64_t to)
{
    BlockBits block;
    const std::uint64_t first = from / 8;
    const std::uint64_t end = std::min((to + 7) / 8, window.End());
    block.bytes.assign(window.At(first), window.At(first) + (end - first));
    block.firstBit = static_cast<unsigned>(from % 8);
    block.count = to - from;
    return block;
}

std::vector<char> MakeOneBlockStream(const BlockBits& block, char level)
{
    const unsigned char* p = block.bytes.data();
    const std::size_t size = block.bytes.size();
    std::vector<char> out;
    out.reserve(static_cast<std::size_t>(kHeaderBytes + block.count / 8 + 12));
    out.insert(out.end(), {'B', 'Z', 'h', level});
    // The header is whole bytes, so the block's bits move by less than a byte.
    const unsigned shift = block.firstBit;
    const std::uint64_t wholeBytes = block.count / 8;
    if (shift == 0)
        out.insert(out.end(), p, p + wholeBytes);
    else
        for (std::uint64_t i = 0; i < wholeBytes; ++i)
            out.push_back(static_cast<char>((p[i] << shift | p[i + 1] >> (8 - shift)) & 0xFF));
    BitWriter writer(out);
    const unsigned rest = static_cast<unsigned>(block.count % 8);
    if (rest != 0) writer.Put(BitsAt(p, size, shift + wholeBytes * 8, rest), rest);
    writer.Put(kEndMagic, kMagicBits);
    writer.Put(BitsAt(p, size, shift + kMagicBits, 32), 32); // the block's CRC
    return out;
}

} // namespace bz2
} // namespace kw
