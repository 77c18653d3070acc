// Stage 2's decompression: the temporary package file's bzip2 stream,
// decoded on every core, checked for the inner header as the first bytes
// arrive, is the source that feeds the archive loader or visitor.
#pragma once

#include "ProgressLine.h"
#include "UpdateListener.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/ArchiveVisitor.h>
#include <kw/bz2/KWParallelDecompress.h>

#include <cstdint>
#include <iosfwd>

namespace kw {
namespace updater {

// The decompressed bytes of `input`, whose `length` compressed bytes are
// read in pieces of 64 KiB, each piece reported on the progress line.
// `input` must be able to go back to its first byte (a flaw in the stream
// is replayed on one thread, so that its error and the progress before it
// are those of a sequential run). `workers` 0 decodes on this thread.
class DecompressingSource {
public:
    DecompressingSource(UpdateListener& listener, std::istream& input, std::uint64_t length,
                        unsigned workers = DefaultWorkers());
    // Up to `count` bytes; 0 at the end of the stream.
    unsigned Read(void* destination, unsigned count) { return reader_.Read(destination, count); }

    static unsigned DefaultWorkers();

private:
    unsigned ReadInput(void* buffer, unsigned count);
    void Rewind();

    std::istream& input_;
    ProgressLine progress_;
    kw::bz2::KWParallelDecompress reader_;
};

// The first decompressed bytes: an inner header this updater can read.
void check_inner_header(const void* bytes, unsigned count);

// Decompresses the temporary package file into the loader, or hands its
// records to the visitor as they arrive.
void expand_bzip2(UpdateListener& listener, std::istream& input, kw::archive::ArchiveLoader& loader,
                  std::uint64_t length);
void expand_bzip2(UpdateListener& listener, std::istream& input, std::uint64_t length,
                  kw::archive::ArchiveVisitor& visitor);

} // namespace updater
} // namespace kw
