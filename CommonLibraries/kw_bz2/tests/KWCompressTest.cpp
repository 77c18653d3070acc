#include "Bz2TestSupport.h"

#include <kw/bz2/KWCompress.h>
#include <kw/bz2/KWDecompress.h>

#include <gtest/gtest.h>

using namespace kw::bz2;
using namespace kw_bz2_test;

namespace {

const std::string& Plain()
{
    static const std::string plain = Mixed(300 * 1024, 4242);
    return plain;
}

std::string CompressInPieces(const std::string& plain, std::size_t piece, int blockSize100k, unsigned bufferSize,
                             Recorder& r)
{
    KWCompress c(bufferSize, blockSize100k, 0, 0);
    InPieces(plain, piece, [&](const char* bytes, unsigned n, bool last) { c.Compress(bytes, n, last, r.Sink()); });
    return r.bytes;
}

std::string OwnDecompress(const std::string& stream)
{
    KWDecompress d(65536, 0, 0);
    Recorder r;
    d.Decompress(stream.data(), static_cast<unsigned>(stream.size()), true, r.Sink());
    return r.bytes;
}

} // namespace

TEST(KWCompress, StreamsInAnyPiecesAreReadBackByTheToolAndTheDecompressor)
{
    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(65536)}) {
        for (int blockSize : {1, 9}) {
            SCOPED_TRACE(testing::Message() << "piece " << piece << " block size " << blockSize);
            Recorder r;
            const std::string stream = CompressInPieces(Plain(), piece, blockSize, 65536, r);
            EXPECT_LE(r.largestPiece, 65536u);
            EXPECT_TRUE(ToolDecompress(stream) == Plain());
            EXPECT_TRUE(OwnDecompress(stream) == Plain());
        }
    }
}

TEST(KWCompress, FullOutputBufferLosesNoInput)
{
    // Random bytes do not shrink: one non-final call must pass the sink far
    // more than one small buffer's worth before it returns.
    const std::string plain = Mixed(600 * 1024, 99, 1.0);
    KWCompress c(1000, 1, 0, 0);
    Recorder r;
    c.Compress(plain.data(), static_cast<unsigned>(plain.size()), false, r.Sink());
    EXPECT_GT(r.bytes.size(), 400u * 1024);
    EXPECT_EQ(1000u, r.largestPiece);
    c.Compress(nullptr, 0, true, r.Sink());
    EXPECT_TRUE(OwnDecompress(r.bytes) == plain);
}

TEST(KWCompress, FinishWithNoBytesEndsTheStreamAndLaterCallsAreSequenceErrors)
{
    KWCompress c(65536, 9, 0, 0);
    Recorder r;
    c.Compress(Plain().data(), 5000, false, r.Sink());
    // Everything still sits in libbz2's block: the sink saw only empty pieces.
    EXPECT_EQ(r.calls, r.emptyCalls);
    c.Compress(nullptr, 0, true, r.Sink());
    EXPECT_TRUE(OwnDecompress(r.bytes) == Plain().substr(0, 5000));
    EXPECT_TRUE(ToolDecompress(r.bytes) == Plain().substr(0, 5000));
    ExpectError<Bz2CompressInvalidData, Bz2InvalidDataBase>([&] { c.Compress(Plain().data(), 10, false, r.Sink()); },
                                                            "sequence error");
}

TEST(KWCompress, NoBytesOnANewCompressorIsAParameterError)
{
    KWCompress c(65536, 9, 0, 0);
    Recorder r;
    ExpectError<Bz2CompressParamError, std::invalid_argument>([&] { c.Compress(Plain().data(), 0, false, r.Sink()); },
                                                              "parameter error");
    EXPECT_EQ(0u, r.calls);
}

TEST(KWCompress, InitRefusesBlockSizeTenAndZeroBuffers)
{
    ExpectError<Bz2CompressParamError>([] { KWCompress(65536, 10, 0, 0); }, "BZ2_bzCompressInit");
    EXPECT_THROW(KWCompress(0, 9, 0, 0), Bz2CompressParamError);
}

TEST(KWCompress, AllocationFunctionBlocksAreAllReleasedByDestruction)
{
    BlockLedger ledger;
    {
        KWCompress c(ledger.Allocate(), Bz2ReleaseFunction(), 65536, 9, 0, 0);
        EXPECT_GE(ledger.live.size(), 3u); // the block arrays are made with the stream
        Recorder r;
        c.Compress(Plain().data(), 1000, false, r.Sink());
    }
    EXPECT_GE(ledger.requests, 3u);
    EXPECT_TRUE(ledger.live.empty());

    // A refusing allocation function fails the construction.
    BlockLedger none(0);
    ExpectError<Bz2CompressBadAllocation, std::bad_alloc>(
        [&] { KWCompress(none.Allocate(), Bz2ReleaseFunction(), 65536, 9, 0, 0); }, "BZ2_bzCompressInit");
}
