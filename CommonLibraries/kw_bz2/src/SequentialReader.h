// The sequential pipeline: pieces of the source pushed through KWDecompress,
// its output queued and handed out on demand. It is the reference of the
// parallel reader and its fallback: a replay passes silently over what an
// earlier reader already handed out, then goes on as usual.
#pragma once

#include "ReaderSetup.h"

#include <kw/bz2/KWDecompress.h>

#include <deque>
#include <string>
#include <vector>

namespace kw {
namespace bz2 {

class SequentialReader {
public:
    explicit SequentialReader(const ReaderSetup& setup);

    // From now on, passes over what `done` says was already handed out.
    void Skip(const ReaderProgress& done);

    unsigned Read(void* destination, unsigned count);

private:
    void Accept(const void* bytes, unsigned count);

    const ReaderSetup& setup_;
    KWDecompress decompressor_;
    std::vector<char> input_;
    std::uint64_t compressedRead_ = 0;
    std::deque<std::string> queue_;
    std::size_t frontTaken_ = 0;
    std::string head_;
    ReaderProgress skip_;
    std::uint64_t hooks_ = 0;
};

} // namespace bz2
} // namespace kw
