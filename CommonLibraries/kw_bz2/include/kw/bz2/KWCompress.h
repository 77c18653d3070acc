// Push-style bzip2 compressor: input goes in by pieces, every codec step's
// output goes to the sink given with the call.
#pragma once

#include <kw/Pimpl.h>
#include <kw/bz2/Bz2Error.h>
#include <kw/bz2/Bz2Export.h>
#include <kw/bz2/Bz2Functions.h>

namespace kw {
namespace bz2 {

class KWCompressImpl;

class KW_BZ2_API KWCompress
    : private kw::pimpl::PimplBase<KWCompressImpl, kw::pimpl::DefaultAction::Allocator<KWCompressImpl>,
                                   kw::pimpl::DefaultAction::Deleter<KWCompressImpl>> {
public:
    // The three integers go to BZ2_bzCompressInit unchanged; bufferSize is
    // the largest piece one sink call receives and must be at least 1.
    KWCompress(unsigned bufferSize, int blockSize100k, int verbosity, int workFactor);
    KWCompress(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize, int blockSize100k,
               int verbosity, int workFactor);

    // Pushes length bytes; finish ends the stream.
    void Compress(const void* data, unsigned length, bool finish, Bz2Sink sink);
};

} // namespace bz2
} // namespace kw
