#include <kw/bz2/KWDecompress.h>

#include "KWBz2Base.h"

#include <boost/current_function.hpp>

namespace kw {
namespace bz2 {

class KWDecompressImpl : public KWBz2Base {
public:
    KWDecompressImpl(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize, int verbosity,
                     int small)
        : KWBz2Base(allocate, release, bufferSize)
    {
        CheckBufferSize<DecompressErrors>(bufferSize, __FILE__, __LINE__, BOOST_CURRENT_FUNCTION);
        CheckInit<DecompressErrors>(BZ2_bzDecompressInit(&stream_, verbosity, small), "BZ2_bzDecompressInit",
                                    __FILE__, __LINE__, BOOST_CURRENT_FUNCTION);
    }

    ~KWDecompressImpl() override { BZ2_bzDecompressEnd(&stream_); }

    void Decompress(const void* data, unsigned length, bool finish, const Bz2Sink& sink)
    {
        stream_.next_in = static_cast<char*>(const_cast<void*>(data));
        stream_.avail_in = length;
        bool ended = false;
        do {
            ResetOutput();
            switch (BZ2_bzDecompress(&stream_)) {
            case BZ_OK:
                break;
            case BZ_STREAM_END:
                // Only the final call may end the stream, and with nothing after it.
                if (!finish || stream_.avail_in != 0)
                    KW_RAISE(Bz2DecompressUnknownError("something wrong"), BOOST_CURRENT_FUNCTION);
                ended = true;
                break;
            case BZ_DATA_ERROR:
            case BZ_DATA_ERROR_MAGIC:
                KW_RAISE(Bz2DecompressInvalidData("invalid input data"), BOOST_CURRENT_FUNCTION);
            case BZ_MEM_ERROR:
                KW_RAISE(Bz2DecompressBadAllocation("out of memory"), BOOST_CURRENT_FUNCTION);
            case BZ_PARAM_ERROR:
                KW_RAISE(Bz2DecompressParamError("parameter error, perhaps this is bag"), BOOST_CURRENT_FUNCTION);
            default:
                KW_RAISE(Bz2DecompressUnknownError("unknown error"), BOOST_CURRENT_FUNCTION);
            }
            Deliver(sink);
        } while (stream_.avail_out == 0 && stream_.avail_in != 0);
        if (finish && !ended) KW_RAISE(Bz2DecompressUnknownError("something wrong"), BOOST_CURRENT_FUNCTION);
    }
};

KWDecompress::KWDecompress(unsigned bufferSize, int verbosity, int small)
    : KWDecompress(Bz2AllocateFunction(), Bz2ReleaseFunction(), bufferSize, verbosity, small)
{
}

KWDecompress::KWDecompress(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize,
                           int verbosity, int small)
{
    install(allocate, release, bufferSize, verbosity, small);
}

void KWDecompress::Decompress(const void* data, unsigned length, bool finish, Bz2Sink sink)
{
    holder()->Decompress(data, length, finish, sink);
}

} // namespace bz2
} // namespace kw
