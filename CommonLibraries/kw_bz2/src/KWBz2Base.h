// What the compressor and the decompressor share: the libbz2 stream record,
// its memory hooks with the table of blocks in use, and the output buffer.
#pragma once

#include <kw/bz2/Bz2Error.h>
#include <kw/bz2/Bz2Functions.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include <bzlib.h>

#include <cstdint>
#include <map>
#include <memory>

namespace kw {
namespace bz2 {

class KWBz2Base : private boost::noncopyable {
public:
    virtual ~KWBz2Base();

protected:
    KWBz2Base(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize);

    // Points the stream's output at the whole buffer before a step.
    void ResetOutput()
    {
        stream_.next_out = buffer_.get();
        stream_.avail_out = bufferSize_;
    }
    // Hands the last step's output to the sink (also when it is empty).
    void Deliver(const Bz2Sink& sink) const { sink(buffer_.get(), bufferSize_ - stream_.avail_out); }

    bz_stream stream_;

private:
    static void* Allocate(void* opaque, int items, int size);
    static void Release(void* opaque, void* address);

    Bz2AllocateFunction allocate_;
    Bz2ReleaseFunction release_;
    std::map<void*, boost::shared_ptr<void>> allocations_;
    std::uint32_t bufferSize_;
    std::unique_ptr<char[]> buffer_;
};

// The error classes of one direction, for the checks both directions share.
struct CompressErrors {
    typedef Bz2CompressParamError ParamError;
    typedef Bz2CompressBadAllocation BadAllocation;
    typedef Bz2CompressUnknownError UnknownError;
};
struct DecompressErrors {
    typedef Bz2DecompressParamError ParamError;
    typedef Bz2DecompressBadAllocation BadAllocation;
    typedef Bz2DecompressUnknownError UnknownError;
};

// A zero-sized output buffer would let no step make progress.
template <class Errors>
void CheckBufferSize(unsigned bufferSize, const char* file, int line, const char* function)
{
    if (bufferSize == 0)
        ::kw::RaiseWithLocation(file, typename Errors::ParamError("buffer size must be at least 1"), line, function);
}

// Maps the result of BZ2_bzCompressInit / BZ2_bzDecompressInit (named by
// call) to the direction's error, raised at the caller's location.
template <class Errors>
void CheckInit(int result, const char* call, const char* file, int line, const char* function)
{
    switch (result) {
    case BZ_OK:
        return;
    case BZ_MEM_ERROR:
        ::kw::RaiseWithLocation(file, typename Errors::BadAllocation(call), line, function);
    case BZ_PARAM_ERROR:
        ::kw::RaiseWithLocation(file, typename Errors::ParamError(call), line, function);
    default:
        ::kw::RaiseWithLocation(file, typename Errors::UnknownError(call), line, function);
    }
}

} // namespace bz2
} // namespace kw
