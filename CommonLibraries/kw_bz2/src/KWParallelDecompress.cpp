#include <kw/bz2/KWParallelDecompress.h>

#include "ParallelReader.h"
#include "SequentialReader.h"

#include <boost/current_function.hpp>

#include <memory>

namespace kw {
namespace bz2 {

// Runs the parallel path while it can, then the sequential pipeline.
//
// The fallback replays from the stream's start, passing silently over the
// bytes, hook calls and head check already done, so that any error is raised
// by KWDecompress itself after exactly the sequential pipeline's hook calls.
// A source that throws while the parallel path reads ahead counts as
// unusual too: its exception is not raised early, out of order; the replay
// calls the source again and meets the error where the sequential pipeline
// would (a source must give the same bytes again after a rewind). Exceptions
// from the head check, the read hook and the rewind are the caller's and
// leave Read unchanged.
class KWParallelDecompressImpl {
public:
    KWParallelDecompressImpl(const ReaderSetup& setup, unsigned workers) : setup_(setup)
    {
        // Made now so that a bad output size fails here, as it does sequentially.
        sequential_.reset(new SequentialReader(setup_));
        const ParallelLimits limits;
        // A head larger than what a block keeps could not be shown in time;
        // a zero input piece reads nothing. Both stay sequential.
        if (workers == 0 || setup_.inputPiece == 0 || setup_.headSize > limits.keepCap) return;
        if (!setup_.rewind)
            KW_RAISE(Bz2DecompressParamError("reading with workers needs a rewind function"), BOOST_CURRENT_FUNCTION);
        parallel_.reset(new ParallelReader(setup_, workers, limits));
    }

    unsigned Read(void* destination, unsigned count)
    {
        if (failed_)
            KW_RAISE(Bz2DecompressParamError("read after the reader failed"), BOOST_CURRENT_FUNCTION);
        try {
            if (parallel_) {
                unsigned got = 0;
                if (parallel_->Read(destination, count, got)) return got;
                const ReaderProgress done = parallel_->Progress();
                parallel_.reset(); // joins the workers
                setup_.rewind();
                sequential_->Skip(done);
            }
            return sequential_->Read(destination, count);
        } catch (...) {
            failed_ = true;
            parallel_.reset();
            throw;
        }
    }

private:
    const ReaderSetup setup_;
    std::unique_ptr<SequentialReader> sequential_;
    std::unique_ptr<ParallelReader> parallel_;
    bool failed_ = false;
};

KWParallelDecompress::KWParallelDecompress(Bz2Source source, Bz2Rewind rewind, std::uint64_t length,
                                           unsigned inputPiece, unsigned outputPiece, Bz2HeadCheck headCheck,
                                           unsigned headSize, Bz2ReadHook readHook, unsigned workers)
{
    install(ReaderSetup{source, rewind, length, inputPiece, outputPiece, headCheck, headSize, readHook}, workers);
}

unsigned KWParallelDecompress::Read(void* destination, unsigned count)
{
    return holder()->Read(destination, count);
}

} // namespace bz2
} // namespace kw
