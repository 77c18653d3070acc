#include "Bz2TestSupport.h"

#include <kw/bz2/KWDecompress.h>

#include <boost/exception/get_error_info.hpp>
#include <boost/function/function_base.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace kw::bz2;
using namespace kw_bz2_test;

namespace {

// Spans several 100k blocks (the tool runs with -1) and every kind of data.
const std::string& Plain()
{
    static const std::string plain = Mixed(350 * 1024, 20240601);
    return plain;
}

const std::string& ToolStream()
{
    static const std::string stream = ToolCompress(Plain(), "-1");
    return stream;
}

// Pushes `stream` in pieces of `piece` bytes (whole by default), the last one final.
void Push(KWDecompress& d, const std::string& stream, const Bz2Sink& sink, std::size_t piece = ~std::size_t(0))
{
    InPieces(stream, piece, [&](const char* bytes, unsigned n, bool last) { d.Decompress(bytes, n, last, sink); });
}

// Runs one call that must raise `Error`, caught by the direction tag, with the text `text`.
template <class Error>
void ExpectDecompressError(KWDecompress& d, const std::string& data, bool finish, const char* text)
{
    Recorder r;
    ExpectError<Error, Bz2DecompressException>(
        [&] { d.Decompress(data.data(), static_cast<unsigned>(data.size()), finish, r.Sink()); }, text);
}

} // namespace

TEST(KWDecompress, ToolStreamInOneCallComesOutInBufferSizedPieces)
{
    KWDecompress d(4096, 0, 0);
    Recorder r;
    Push(d, ToolStream(), r.Sink());
    EXPECT_TRUE(r.bytes == Plain());
    EXPECT_EQ(4096u, r.largestPiece);
    EXPECT_GE(r.calls, Plain().size() / 4096);
}

TEST(KWDecompress, PiecesOfAnySizeYieldTheSameBytes)
{
    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(65536)}) {
        for (int small : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "piece " << piece << " small " << small);
            KWDecompress d(65536, 0, small);
            Recorder r;
            Push(d, ToolStream(), r.Sink(), piece);
            EXPECT_TRUE(r.bytes == Plain());
        }
    }
}

TEST(KWDecompress, SinkIsCalledWithZeroBytesWhenAStepProducesNothing)
{
    KWDecompress d(65536, 0, 0);
    Recorder r;
    d.Decompress(ToolStream().data(), 4, false, r.Sink()); // only the "BZh1" signature
    EXPECT_EQ(1u, r.calls);
    EXPECT_EQ(1u, r.emptyCalls);
}

TEST(KWDecompress, StreamEndInTheWrongCallIsSomethingWrong)
{
    const std::string& stream = ToolStream();
    struct Case {
        const char* label;
        std::string data;
        bool finish;
    };
    const Case cases[] = {{"final call ends before the stream", stream.substr(0, stream.size() - 1), true},
                          {"non-final call reaches the end", stream, false},
                          {"bytes after the end", stream + "x", true},
                          {"a second stream is not read either", stream + stream, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        KWDecompress d(65536, 0, 0);
        ExpectDecompressError<Bz2DecompressUnknownError>(d, c.data, c.finish, "something wrong");
    }
}

TEST(KWDecompress, CorruptInputIsInvalidData)
{
    const std::string& stream = ToolStream();
    {
        SCOPED_TRACE("not a bzip2 stream");
        KWDecompress d(65536, 0, 0);
        ExpectDecompressError<Bz2DecompressInvalidData>(d, "this is plain text, not bzip2", true,
                                                        "invalid input data");
    }
    // A flipped byte anywhere in the block data is caught by decoding or by the CRC.
    for (std::size_t at : {std::size_t(20), stream.size() / 3, stream.size() / 2, stream.size() - 20}) {
        SCOPED_TRACE(testing::Message() << "byte flipped at " << at);
        const std::string corrupt = Flipped(stream, at, 0x5a);
        for (int small : {0, 1}) {
            KWDecompress d(65536, 0, small);
            ExpectDecompressError<Bz2DecompressInvalidData>(d, corrupt, true, "invalid input data");
        }
    }
}

TEST(KWDecompress, RandomGarbageAfterTheHeaderNeverCrashes)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        std::string garbage = ToolStream().substr(0, 4 + round % 30);
        for (int i = 0; i < 2000; ++i) garbage.push_back(static_cast<char>(rng()));
        KWDecompress d(1024, 0, round % 2);
        Recorder r;
        EXPECT_THROW(d.Decompress(garbage.data(), static_cast<unsigned>(garbage.size()), true, r.Sink()),
                     Bz2DecompressException);
    }
}

TEST(KWDecompress, EndedStreamRejectsFurtherCallsAsUnknownError)
{
    KWDecompress d(65536, 0, 0);
    Recorder r;
    Push(d, ToolStream(), r.Sink());
    ExpectDecompressError<Bz2DecompressUnknownError>(d, ToolStream(), true, "unknown error");
}

TEST(KWDecompress, ErrorsCarryTheirLocationAndAreCaughtByLibraryTag)
{
    KWDecompress d(65536, 0, 0);
    Recorder r;
    bool caught = false;
    try {
        d.Decompress("BZh9garbage-garbage", 19, true, r.Sink());
    } catch (const Bz2Exception&) {
        caught = true;
        try {
            throw;
        } catch (const Bz2CompressException&) {
            ADD_FAILURE() << "decompression error tagged as compression";
        } catch (const std::domain_error& e) {
            const boost::exception* located = dynamic_cast<const boost::exception*>(&e);
            ASSERT_NE(nullptr, located);
            const char* const* file = boost::get_error_info<boost::throw_file>(*located);
            const char* const* function = boost::get_error_info<boost::throw_function>(*located);
            const int* line = boost::get_error_info<boost::throw_line>(*located);
            ASSERT_TRUE(file && function && line);
            EXPECT_STREQ("KWDecompress.cpp", *file);
            EXPECT_NE(nullptr, std::strstr(*function, "Decompress("));
            EXPECT_GT(*line, 0);
        }
    }
    EXPECT_TRUE(caught);
}

TEST(KWDecompress, CopiesShareOneStream)
{
    KWDecompress first(65536, 0, 0);
    KWDecompress second(first);
    Recorder r;
    const std::string& stream = ToolStream();
    const unsigned half = static_cast<unsigned>(stream.size() / 2);
    first.Decompress(stream.data(), half, false, r.Sink());
    second.Decompress(stream.data() + half, static_cast<unsigned>(stream.size() - half), true, r.Sink());
    EXPECT_TRUE(r.bytes == Plain());
}

TEST(KWDecompress, EmptySinkFailsAtTheFirstSinkCall)
{
    KWDecompress d(65536, 0, 0);
    EXPECT_THROW(d.Decompress(ToolStream().data(), 4, false, Bz2Sink()), boost::bad_function_call);
}

TEST(KWDecompress, AllocationFunctionBlocksAreAllReleasedByDestruction)
{
    BlockLedger ledger;
    bool releaseCalled = false;
    {
        KWDecompress d(ledger.Allocate(), [&](void*) { releaseCalled = true; }, 65536, 0, 0);
        Recorder r;
        // Stop in the middle: the big decoding arrays are still in use.
        d.Decompress(ToolStream().data(), static_cast<unsigned>(ToolStream().size() / 2), false, r.Sink());
        EXPECT_FALSE(ledger.live.empty());
    }
    EXPECT_GE(ledger.requests, 2u);
    EXPECT_TRUE(ledger.live.empty());
    EXPECT_FALSE(releaseCalled);
}

TEST(KWDecompress, FailingAllocationBecomesBadAllocation)
{
    for (bool throwInstead : {false, true}) {
        SCOPED_TRACE(throwInstead ? "allocation function throws" : "allocation function returns nothing");
        BlockLedger none(0, throwInstead);
        const auto construct = [&] { KWDecompress(none.Allocate(), Bz2ReleaseFunction(), 65536, 0, 0); };
        ExpectError<Bz2DecompressBadAllocation>(construct, "BZ2_bzDecompressInit");

        // The stream state fits, the block arrays do not.
        BlockLedger small(256 * 1024, throwInstead);
        {
            KWDecompress d(small.Allocate(), Bz2ReleaseFunction(), 65536, 0, 0);
            Recorder r;
            ExpectError<Bz2DecompressBadAllocation, std::bad_alloc>([&] { Push(d, ToolStream(), r.Sink()); },
                                                                    "out of memory");
        }
        EXPECT_TRUE(small.live.empty());
    }
}

TEST(KWDecompress, ZeroBufferSizeIsRefused)
{
    EXPECT_THROW(KWDecompress(0, 0, 0), Bz2DecompressParamError);
}

TEST(KWDecompress, OutOfRangeInitParametersAreParamErrors)
{
    ExpectError<Bz2DecompressParamError>([] { KWDecompress(65536, 0, 2); }, "BZ2_bzDecompressInit");
}
