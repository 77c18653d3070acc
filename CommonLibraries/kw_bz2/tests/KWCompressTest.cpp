#include "Bz2TestSupport.h"
#include "MixedData.h"

#include <kw/bz2/KWCompress.h>
#include <kw/bz2/KWDecompress.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace kw::bz2;
using namespace kw_bz2_test;

namespace {

const std::string& Plain()
{
    static const std::string plain = [] {
        std::mt19937 rng(4242);
        std::string s;
        AppendMixedData(s, 300 * 1024, rng);
        return s;
    }();
    return plain;
}

std::string CompressInPieces(const std::string& plain, std::size_t piece, int blockSize100k, unsigned bufferSize,
                             Recorder& r)
{
    KWCompress c(bufferSize, blockSize100k, 0, 0);
    for (std::size_t at = 0; at < plain.size(); at += piece) {
        const std::size_t n = std::min(piece, plain.size() - at);
        c.Compress(plain.data() + at, static_cast<unsigned>(n), at + n == plain.size(), r.Sink());
    }
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
    std::mt19937 rng(99);
    std::string plain;
    AppendMixedData(plain, 600 * 1024, rng, 1.0);
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
    try {
        c.Compress(Plain().data(), 10, false, r.Sink());
        FAIL() << "compressed after the end";
    } catch (const Bz2InvalidDataBase& e) {
        EXPECT_STREQ("sequence error", e.what());
        EXPECT_NE(nullptr, dynamic_cast<const Bz2CompressInvalidData*>(&e));
    }
}

TEST(KWCompress, NoBytesOnANewCompressorIsAParameterError)
{
    KWCompress c(65536, 9, 0, 0);
    Recorder r;
    try {
        c.Compress(Plain().data(), 0, false, r.Sink());
        FAIL() << "empty run step accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ("parameter error", e.what());
        EXPECT_NE(nullptr, dynamic_cast<const Bz2CompressParamError*>(&e));
    }
    EXPECT_EQ(0u, r.calls);
}

TEST(KWCompress, InitRefusesBlockSizeTenAndZeroBuffers)
{
    try {
        KWCompress c(65536, 10, 0, 0);
        FAIL() << "block size 10 accepted";
    } catch (const Bz2CompressParamError& e) {
        EXPECT_STREQ("BZ2_bzCompressInit", e.what());
    }
    EXPECT_THROW(KWCompress(0, 9, 0, 0), Bz2CompressParamError);
}

TEST(KWCompress, AllocationFunctionBlocksAreAllReleasedByDestruction)
{
    std::set<void*> live;
    unsigned requests = 0;
    Bz2AllocateFunction allocate = [&](unsigned size) -> boost::shared_ptr<void> {
        ++requests;
        char* block = new char[size];
        live.insert(block);
        return boost::shared_ptr<void>(block, [&live](char* p) {
            live.erase(p);
            delete[] p;
        });
    };
    {
        KWCompress c(allocate, Bz2ReleaseFunction(), 65536, 9, 0, 0);
        EXPECT_GE(live.size(), 3u); // the block arrays are made with the stream
        Recorder r;
        c.Compress(Plain().data(), 1000, false, r.Sink());
    }
    EXPECT_GE(requests, 3u);
    EXPECT_TRUE(live.empty());

    // A refusing allocation function fails the construction.
    try {
        KWCompress c([](unsigned) { return boost::shared_ptr<void>(); }, Bz2ReleaseFunction(), 65536, 9, 0, 0);
        FAIL() << "constructed without memory";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("BZ2_bzCompressInit", e.what());
        EXPECT_NE(nullptr, dynamic_cast<const Bz2CompressBadAllocation*>(&e));
    }
}
