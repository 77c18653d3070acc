// The archive stream loader over arbitrary bytes, handed out by a source that
// gives short reads of varying sizes, then a walk of whatever tree it built
// (a failed load keeps the tree built until then).
#include "ArchiveWalk.h"

#include <kw/archive/ArchiveLoader.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Piece sizes of successive source calls: short reads must not change what
// the loader builds.
const unsigned kPieces[] = {1, 7, 64, 3, 4096, 13};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t offset = 0;
    unsigned calls = 0;
    kw::archive::ArchiveLoader loader;
    const bool complete = loader.ReadFromStream([&](void* destination, unsigned count) -> unsigned {
        const std::size_t piece = kPieces[calls++ % (sizeof kPieces / sizeof kPieces[0])];
        const std::size_t n = std::min<std::size_t>({piece, count, size - offset});
        std::memcpy(destination, data + offset, n);
        offset += n;
        return static_cast<unsigned>(n);
    });
    if (loader.GetReadingOffset() > offset) kwfuzz::Fail("the reading offset passes the bytes handed out");
    const kwfuzz::ArchiveSummary summary = kwfuzz::WalkArchive(*loader.GetBody());
    if (complete && !summary.has_top) kwfuzz::Fail("a complete load without the top directory");
    if (summary.bytes > size) kwfuzz::Fail("file contents larger than the stream");
    return 0;
}
