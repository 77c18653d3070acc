#include <kw/bz2/KWCompress.h>

#include "KWBz2Base.h"

#include <boost/current_function.hpp>

namespace kw {
namespace bz2 {

class KWCompressImpl : public KWBz2Base {
public:
    KWCompressImpl(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize, int blockSize100k,
                   int verbosity, int workFactor)
        : KWBz2Base(allocate, release, bufferSize)
    {
        CheckBufferSize<CompressErrors>(bufferSize, __FILE__, __LINE__, BOOST_CURRENT_FUNCTION);
        CheckInit<CompressErrors>(BZ2_bzCompressInit(&stream_, blockSize100k, verbosity, workFactor),
                                  "BZ2_bzCompressInit", __FILE__, __LINE__, BOOST_CURRENT_FUNCTION);
    }

    ~KWCompressImpl() override { BZ2_bzCompressEnd(&stream_); }

    void Compress(const void* data, unsigned length, bool finish, const Bz2Sink& sink)
    {
        int action = finish ? BZ_FINISH : BZ_RUN;
        stream_.next_in = static_cast<char*>(const_cast<void*>(data));
        stream_.avail_in = length;
        for (;;) {
            ResetOutput();
            switch (BZ2_bzCompress(&stream_, action)) {
            case BZ_RUN_OK:
                Deliver(sink);
                // A full buffer with input left means libbz2 stopped for room.
                if (stream_.avail_out != 0 || stream_.avail_in == 0) return;
                break;
            case BZ_FLUSH_OK:
                Deliver(sink);
                action = BZ_FLUSH;
                break;
            case BZ_FINISH_OK:
                Deliver(sink);
                break;
            case BZ_STREAM_END:
                Deliver(sink);
                return;
            case BZ_PARAM_ERROR:
                KW_RAISE(Bz2CompressParamError("parameter error"), BOOST_CURRENT_FUNCTION);
            case BZ_SEQUENCE_ERROR:
                KW_RAISE(Bz2CompressInvalidData("sequence error"), BOOST_CURRENT_FUNCTION);
            default:
                KW_RAISE(Bz2CompressUnknownError("unknown error"), BOOST_CURRENT_FUNCTION);
            }
        }
    }
};

KWCompress::KWCompress(unsigned bufferSize, int blockSize100k, int verbosity, int workFactor)
    : KWCompress(Bz2AllocateFunction(), Bz2ReleaseFunction(), bufferSize, blockSize100k, verbosity, workFactor)
{
}

KWCompress::KWCompress(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize,
                       int blockSize100k, int verbosity, int workFactor)
{
    install(allocate, release, bufferSize, blockSize100k, verbosity, workFactor);
}

void KWCompress::Compress(const void* data, unsigned length, bool finish, Bz2Sink sink)
{
    holder()->Compress(data, length, finish, sink);
}

} // namespace bz2
} // namespace kw
