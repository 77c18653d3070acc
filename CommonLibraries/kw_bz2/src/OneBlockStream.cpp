#include "OneBlockStream.h"

#include "StreamBits.h"

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

std::vector<char> MakeOneBlockStream(const InputWindow& window, std::uint64_t from, std::uint64_t to, char level)
{
    const std::uint64_t bits = to - from;
    std::vector<char> out;
    out.reserve(static_cast<std::size_t>(kHeaderBytes + bits / 8 + 12));
    out.insert(out.end(), {'B', 'Z', 'h', level});
    // The header is whole bytes, so the block's bits move by less than a byte.
    const unsigned shift = static_cast<unsigned>(from % 8);
    const unsigned char* p = window.At(from / 8);
    const std::uint64_t wholeBytes = bits / 8;
    if (shift == 0)
        out.insert(out.end(), p, p + wholeBytes);
    else
        for (std::uint64_t i = 0; i < wholeBytes; ++i)
            out.push_back(static_cast<char>((p[i] << shift | p[i + 1] >> (8 - shift)) & 0xFF));
    BitWriter writer(out);
    const unsigned rest = static_cast<unsigned>(bits % 8);
    if (rest != 0) writer.Put(window.Bits(from + wholeBytes * 8, rest), rest);
    writer.Put(kEndMagic, kMagicBits);
    writer.Put(StoredBlockCrc(window, from), 32);
    return out;
}

} // namespace bz2
} // namespace kw
