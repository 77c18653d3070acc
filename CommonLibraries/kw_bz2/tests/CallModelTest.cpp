// The call model against KWDecompress itself: for many piece and buffer
// sizes, the bytes each Decompress call produces must be what the model says.
#include "../src/CallModel.h"
#include "../src/MagicScanner.h"
#include "../src/StreamBits.h"
#include "Bz2TestSupport.h"

#include <kw/bz2/KWDecompress.h>

#include <gtest/gtest.h>

using namespace kw::bz2;

namespace {

// Random bytes have no runs, so each -1 block holds exactly 99981 of them.
const unsigned kBlockOutput = 99981;

struct Layout {
    std::vector<std::uint64_t> blockLastBytes;
    std::uint64_t streamLastByte = 0;
};

Layout BlockLayout(const std::string& stream)
{
    const std::vector<MagicHit> hits = kw_bz2_test::ScanWhole(stream);
    Layout layout;
    for (std::size_t i = 1; i < hits.size(); ++i) layout.blockLastBytes.push_back((hits[i].bit - 1) / 8);
    layout.streamLastByte = (hits.back().bit + kTrailerBits - 1) / 8;
    return layout;
}

std::vector<std::uint64_t> RealCalls(const std::string& stream, unsigned piece, unsigned output)
{
    KWDecompress decompress(output, 0, 0);
    std::vector<std::uint64_t> calls;
    kw_bz2_test::InPieces(stream, piece, [&](const char* bytes, unsigned n, bool last) {
        std::uint64_t produced = 0;
        decompress.Decompress(bytes, n, last, [&produced](const void*, unsigned count) { produced += count; });
        calls.push_back(produced);
    });
    return calls;
}

std::vector<std::uint64_t> ModelCalls(const Layout& layout, std::uint64_t plainSize, std::uint64_t streamSize,
                                      unsigned piece, unsigned output)
{
    CallModel model(output);
    for (std::size_t i = 0; i < layout.blockLastBytes.size(); ++i) {
        const std::uint64_t size = std::min<std::uint64_t>(kBlockOutput, plainSize - i * kBlockOutput);
        model.AddBlock(layout.blockLastBytes[i], size);
    }
    model.SetStreamEnd(layout.streamLastByte);
    std::vector<std::uint64_t> calls;
    for (std::uint64_t at = 0; at < streamSize; at += piece) {
        const CallModel::Call call = model.Next(std::min<std::uint64_t>(at + piece, streamSize));
        EXPECT_EQ(at + piece >= streamSize, call.streamEnded);
        EXPECT_EQ(0u, call.inputLeft);
        calls.push_back(call.output);
    }
    return calls;
}

} // namespace

TEST(CallModel, GivesEachDecompressCallsOutputWhereverPiecesAndBuffersEnd)
{
    const std::string plain = kw_bz2_test::RandomBytes(4 * kBlockOutput + 12345, 11);
    const std::string stream = kw_bz2_test::ToolCompress(plain, "-1");
    const Layout layout = BlockLayout(stream);
    ASSERT_EQ(5u, layout.blockLastBytes.size());
    ASSERT_EQ(stream.size() - 1, layout.streamLastByte);

    // Pieces ending on a block's last byte or right around it, one piece
    // holding two block ends, tiny pieces; buffers that fill exactly at a
    // block's end (one or two blocks), or one byte either side.
    const unsigned firstEnd = static_cast<unsigned>(layout.blockLastBytes[0] + 1);
    const unsigned secondEnd = static_cast<unsigned>(layout.blockLastBytes[1] + 1);
    const std::vector<unsigned> pieces{1, 3, 777, 65536, firstEnd, firstEnd - 1, firstEnd + 1, secondEnd,
                                       static_cast<unsigned>(stream.size())};
    const std::vector<unsigned> outputs{1, 7, 4096, 65536, kBlockOutput - 1, kBlockOutput, kBlockOutput + 1,
                                        2 * kBlockOutput, 1u << 20};
    for (const unsigned piece : pieces)
        for (const unsigned output : outputs) {
            if (piece < 10 && output < 10) continue; // slow and nothing new
            EXPECT_EQ(RealCalls(stream, piece, output), ModelCalls(layout, plain.size(), stream.size(), piece, output))
                << "piece " << piece << ", output " << output;
        }
}
