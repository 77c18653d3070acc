// Stage 2's decompression: the temporary package file's bzip2 stream,
// checked for the inner header as the first bytes arrive, is the source that
// feeds the archive loader.
#pragma once

#include "UpdateListener.h"
#include "ProgressLine.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/ArchiveVisitor.h>
#include <kw/bz2/KWDecompress.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

namespace kw {
namespace updater {

// One decompressed piece waiting for the archive loader.
struct buffer_attribute {
    std::uint32_t position = 0;
    std::uint32_t size = 0;
    unsigned char data[65536];
};

// The state of one decompression.
struct filter_data {
    filter_data(UpdateListener& listener, std::istream& input, std::uint64_t length)
        : input(input), length(length), progress(listener, length)
    {
    }

    std::istream& input;
    std::uint64_t compressed_read = 0;
    std::uint64_t length;
    ProgressLine progress;
    std::string header;
    std::uint64_t decompressed = 0;
    std::deque<boost::shared_ptr<buffer_attribute>> queue;
    std::vector<char> read_buffer;
};

// Decompresses the temporary package file into the loader, or hands its
// records to the visitor as they arrive.
void expand_bzip2(UpdateListener& listener, std::istream& input, kw::archive::ArchiveLoader& loader,
                  std::uint64_t length);
void expand_bzip2(UpdateListener& listener, std::istream& input, std::uint64_t length,
                  kw::archive::ArchiveVisitor& visitor);

// The decompressor's sink: queues the piece and checks the inner header.
void accept_bzip2(filter_data& state, const void* bytes, unsigned count);

// The loader's source: hands out queued bytes, decompressing more as needed.
unsigned read_decompressed(kw::bz2::KWDecompress& decompressor, filter_data& state, void* destination, unsigned count);

} // namespace updater
} // namespace kw
