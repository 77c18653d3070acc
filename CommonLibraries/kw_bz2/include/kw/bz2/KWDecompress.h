// Push-style bzip2 decompressor: a single bzip2 stream goes in by pieces,
// every codec step's output goes to the sink given with the call.
#pragma once

#include <kw/Pimpl.h>
#include <kw/bz2/Bz2Error.h>
#include <kw/bz2/Bz2Export.h>
#include <kw/bz2/Bz2Functions.h>

namespace kw {
namespace bz2 {

class KWDecompressImpl;

class KW_BZ2_API KWDecompress
    : private kw::pimpl::PimplBase<KWDecompressImpl, kw::pimpl::DefaultAction::Allocator<KWDecompressImpl>,
                                   kw::pimpl::DefaultAction::Deleter<KWDecompressImpl>> {
public:
    // The two integers go to BZ2_bzDecompressInit unchanged; bufferSize is
    // the largest piece one sink call receives and must be at least 1.
    KWDecompress(unsigned bufferSize, int verbosity, int small);
    KWDecompress(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize, int verbosity,
                 int small);

    // Pushes length bytes of the stream. The final call (finish true) must
    // carry the stream's last bytes and nothing after them.
    void Decompress(const void* data, unsigned length, bool finish, Bz2Sink sink);
};

} // namespace bz2
} // namespace kw
