// The loader's only way to read: a 64-byte read-ahead buffer in front of the
// source function, topped up after every request it serves.
#pragma once

#include <kw/archive/ArchiveLoader.h>

#include <cstdint>

namespace kw {
namespace archive {

class ReadAhead {
public:
    static constexpr unsigned Capacity = 64;

    ReadAhead() : buffer_(), offset_(0), buffered_(0) {}

    // Copies up to `count` bytes of the stream to `destination` and returns
    // how many it copied; fewer than asked means the stream ended.
    unsigned Read(ArchiveLoader::Source& source, void* destination, unsigned count);

    // Bytes handed out so far. Kept in 64 bits: a stream whose last file body
    // reaches past 4 GiB is still read correctly.
    std::uint64_t Offset() const { return offset_; }

private:
    unsigned Pull(ArchiveLoader::Source& source, unsigned char* at, unsigned capacity);

    unsigned char buffer_[Capacity];
    std::uint64_t offset_;
    unsigned buffered_;
};

} // namespace archive
} // namespace kw
