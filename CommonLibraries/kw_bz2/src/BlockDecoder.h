// libbz2 over one block made into a stream of its own (OneBlockStream.h).
#pragma once

#include <bzlib.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace kw {
namespace bz2 {

// What decoding a block found out. The output is kept up to a cap; past it
// the decoder only counts, and the block's CRC is still checked by libbz2.
struct BlockOutput {
    bool ok = false;
    std::uint64_t size = 0;
    std::vector<char> kept; // the first min(size, cap) bytes
};

// Decodes `stream` whole; ok when libbz2 ends the stream on its last byte.
// Stops early, not ok, once `stop` is set.
BlockOutput DecodeOneBlock(const std::vector<char>& stream, std::size_t cap, const std::atomic<bool>& stop);

// A libbz2 stream record reading one input buffer, ended when it goes.
class Bz2Reader {
public:
    explicit Bz2Reader(const std::vector<char>& input);
    ~Bz2Reader();
    Bz2Reader(const Bz2Reader&) = delete;
    Bz2Reader& operator=(const Bz2Reader&) = delete;

    bool Ready() const { return ready_; }
    // One libbz2 step into `out`; returns its code and how much it wrote.
    int Step(char* out, std::size_t room, std::size_t& written);
    unsigned InputLeft() const { return stream_.avail_in; }

private:
    bz_stream stream_;
    bool ready_ = false;
};

// Decodes a block again, handing its output out in pieces of any size: for
// blocks whose output was too large to keep.
class BlockStreamer {
public:
    explicit BlockStreamer(const std::vector<char>& stream) : reader_(stream) {}

    // Writes up to `count` next bytes; false if libbz2 failed (the block was
    // checked before, so only memory can run short here).
    bool Read(char* destination, std::size_t count, std::size_t& written);
    // Passes over the next `count` bytes.
    bool Skip(std::uint64_t count);

private:
    Bz2Reader reader_;
    bool ended_ = false;
};

} // namespace bz2
} // namespace kw
