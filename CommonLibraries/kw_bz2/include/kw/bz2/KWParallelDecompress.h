// Pull-style reader of one bzip2 stream, decoding its blocks on worker
// threads. What its user sees is exactly what the sequential pipeline gives
// (KWDecompress fed by pieces of the source, its output queued and handed
// out on demand): the same bytes, the head check and the read hook at the
// same places in the byte stream, the same error after the same hook calls.
// Only the number of bytes each Read returns may differ.
#pragma once

#include <kw/Pimpl.h>
#include <kw/bz2/Bz2Error.h>
#include <kw/bz2/Bz2Export.h>

#include <boost/function.hpp>

#include <cstdint>

namespace kw {
namespace bz2 {

// Fills up to `count` bytes of `buffer` with the next compressed bytes and
// returns how many it wrote; 0 means the end of the input.
typedef boost::function<unsigned(void* buffer, unsigned count)> Bz2Source;
// Puts the source back to the first byte of the stream.
typedef boost::function<void()> Bz2Rewind;
// Sees the first headSize decompressed bytes, once; it may throw.
typedef boost::function<void(const void* bytes, unsigned count)> Bz2HeadCheck;
// Called after each piece of input was decompressed, with the compressed
// bytes read so far; it may throw.
typedef boost::function<void(std::uint64_t compressedRead)> Bz2ReadHook;

class KWParallelDecompressImpl;

class KW_BZ2_API KWParallelDecompress
    : private kw::pimpl::PimplBase<KWParallelDecompressImpl,
                                   kw::pimpl::DefaultAction::Allocator<KWParallelDecompressImpl>,
                                   kw::pimpl::DefaultAction::Deleter<KWParallelDecompressImpl>> {
public:
    // `length` is the stream's size in bytes: the piece that reaches it is
    // pushed as the final one. The source is read `inputPiece` bytes at a
    // time; `outputPiece` is the decompressor's output buffer (at least 1).
    // `workers` 0 runs the sequential pipeline itself; 1 or more decode on
    // that many threads and need `rewind`: on anything unusual in the stream
    // or the source (a broken or truncated stream, bytes after it, a source
    // that ends early or throws), the reader rewinds, runs the sequential
    // pipeline from the start and carries on from where it was, so errors
    // come from it, after the same hook calls. The source must give the same
    // bytes again after a rewind; its exceptions, like those of the head
    // check, the hook and the rewind, leave Read unchanged. A head larger
    // than 4 MiB is read sequentially. The source and the callbacks are only
    // called from the thread that calls Read.
    KWParallelDecompress(Bz2Source source, Bz2Rewind rewind, std::uint64_t length, unsigned inputPiece,
                         unsigned outputPiece, Bz2HeadCheck headCheck, unsigned headSize, Bz2ReadHook readHook,
                         unsigned workers);

    // Copies up to `count` decompressed bytes to `destination`; 0 at the end.
    // After an exception has left Read, the reader only raises.
    unsigned Read(void* destination, unsigned count);
};

} // namespace bz2
} // namespace kw
