#include "BlockDecoder.h"

#include <algorithm>
#include <cstring>

namespace kw {
namespace bz2 {

namespace {

const std::size_t kFirstOutput = 1u << 20;
const std::size_t kScratch = 1u << 16;

} // namespace

Bz2Reader::Bz2Reader(const std::vector<char>& input)
{
    std::memset(&stream_, 0, sizeof stream_);
    ready_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
    stream_.next_in = const_cast<char*>(input.data());
    stream_.avail_in = static_cast<unsigned>(input.size());
}

Bz2Reader::~Bz2Reader()
{
    if (ready_) BZ2_bzDecompressEnd(&stream_);
}

int Bz2Reader::Step(char* out, std::size_t room, std::size_t& written)
{
    const unsigned n = static_cast<unsigned>(std::min<std::size_t>(room, 1u << 30));
    stream_.next_out = out;
    stream_.avail_out = n;
    const int result = BZ2_bzDecompress(&stream_);
    written = n - stream_.avail_out;
    return result;
}

BlockOutput DecodeOneBlock(const std::vector<char>& stream, std::size_t cap, const std::atomic<bool>& stop)
{
    BlockOutput out;
    Bz2Reader decoder(stream);
    if (!decoder.Ready()) return out;
    std::vector<char> scratch;
    int result = BZ_OK;
    while (result == BZ_OK && !stop.load(std::memory_order_relaxed)) {
        std::size_t written = 0;
        if (out.kept.size() < cap) {
            // Into the kept bytes, grown as needed up to the cap.
            const std::size_t have = out.kept.size();
            const std::size_t grow = std::min(cap, std::max(kFirstOutput, have * 2));
            out.kept.resize(grow);
            result = decoder.Step(out.kept.data() + have, grow - have, written);
            out.kept.resize(have + written);
        } else {
            scratch.resize(kScratch);
            result = decoder.Step(scratch.data(), scratch.size(), written);
        }
        out.size += written;
        // No output and no input left: the stream stops short.
        if (result == BZ_OK && written == 0 && decoder.InputLeft() == 0) break;
    }
    out.ok = result == BZ_STREAM_END && decoder.InputLeft() == 0;
    if (!out.ok) out.kept = std::vector<char>();
    return out;
}

bool BlockStreamer::Read(char* destination, std::size_t count, std::size_t& written)
{
    written = 0;
    if (!reader_.Ready()) return false;
    while (written < count && !ended_) {
        std::size_t step = 0;
        const int result = reader_.Step(destination + written, count - written, step);
        written += step;
        if (result == BZ_STREAM_END)
            ended_ = true;
        else if (result != BZ_OK || (step == 0 && reader_.InputLeft() == 0))
            return false;
    }
    return true;
}

bool BlockStreamer::Skip(std::uint64_t count)
{
    std::vector<char> scratch(kScratch);
    while (count > 0) {
        std::size_t written = 0;
        if (!Read(scratch.data(), static_cast<std::size_t>(std::min<std::uint64_t>(count, kScratch)), written) ||
            written == 0)
            return false;
        count -= written;
    }
    return true;
}

} // namespace bz2
} // namespace kw
