// KWParallelDecompress against the sequential pipeline it stands for: the
// same bytes, head check, read hooks and error, on streams of many shapes.
#include "../src/MagicScanner.h"
#include "../src/StreamBits.h"
#include "Bz2TestSupport.h"
#include "ReaderRuns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

using namespace kw::bz2;
using namespace kw_bz2_test;

namespace {

// Bytes drawn only from the set that makes each block's symbol map spell
// `magic`: the map is 16 bits of which 16-byte groups are used, then 16 bits
// for each used group, so a magic whose first 16 bits name the groups and
// whose next 32 bits are the maps of the first two is written out whole in
// every block's header, 105 bits after its start. No byte repeats its
// predecessor: runs of four would add run-length bytes to the map.
std::string SpellingMagic(std::uint64_t magic, std::size_t size, unsigned seed)
{
    std::vector<char> alphabet;
    const unsigned groups = static_cast<unsigned>(magic >> 32);
    unsigned seen = 0;
    for (unsigned g = 0; g < 16; ++g) {
        if (!(groups >> (15 - g) & 1)) continue;
        const unsigned map = seen < 2 ? static_cast<unsigned>(magic >> (16 - 16 * seen)) & 0xFFFF : 0x8000;
        ++seen;
        for (unsigned b = 0; b < 16; ++b)
            if (map >> (15 - b) & 1) alphabet.push_back(static_cast<char>(g * 16 + b));
    }
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        const char c = alphabet[rng() % alphabet.size()];
        if (s.empty() || s.back() != c) s.push_back(c);
    }
    return s;
}

struct NamedStream {
    const char* name;
    std::string bytes;
};

const std::vector<NamedStream>& Streams()
{
    static const std::vector<NamedStream> streams = [] {
        std::vector<NamedStream> s;
        s.push_back({"mixed -9", ToolCompress(Mixed(2500 * 1024, 1), "-9")});
        s.push_back({"mixed -1", ToolCompress(Mixed(600 * 1024, 2), "-1")});
        s.push_back({"random -1", ToolCompress(RandomBytes(300 * 1024, 3), "-1")});
        // Eight blocks of about 5 MB output each, more than a block keeps,
        // and all in the first piece: past a budget they keep nothing.
        s.push_back({"zeros -1", ToolCompress(std::string(40 << 20, '\0'), "-1")});
        // Forty blocks of about 400 kB each, again all in the first piece,
        // kept whole at first, then decoded again.
        std::string runs;
        for (unsigned i = 0; runs.size() < (16u << 20); ++i) runs.append(20, static_cast<char>('a' + i % 7));
        s.push_back({"runs -1", ToolCompress(runs, "-1")});
        s.push_back({"no input", std::string()});
        s.push_back({"empty stream", ToolCompress(std::string(), "-9")});
        s.push_back({"tiny", ToolCompress("tiny", "-9")});
        return s;
    }();
    return streams;
}

std::vector<ReaderOptions> Shapes()
{
    std::vector<ReaderOptions> shapes(4);
    shapes[1].inputPiece = 4096;
    shapes[1].outputPiece = 1000;
    shapes[2].inputPiece = 1000;
    shapes[2].shortReads = true;
    shapes[2].reads = {1, 7, 0, 65536, 300};
    shapes[3].inputPiece = 777;
    shapes[3].outputPiece = 333;
    shapes[3].headSize = 150000; // across blocks
    shapes[3].reads = {100000};
    return shapes;
}

} // namespace

TEST(KWParallelDecompress, MatchesTheSequentialPipelineOnStreamsOfEveryShape)
{
    for (const NamedStream& stream : Streams()) {
        const std::vector<ReaderOptions> shapes = Shapes();
        // Only a missing stream needs the sequential pipeline.
        const unsigned rewinds = stream.bytes.empty() ? 1 : 0;
        for (std::size_t i = 0; i < shapes.size(); ++i)
            for (const unsigned workers : {1u, 2u}) {
                const std::string label = std::string(stream.name) + ", shape " + std::to_string(i) + ", workers " +
                                          std::to_string(workers);
                EXPECT_EQ(rewinds, ExpectSameAsSequential(stream.bytes, workers, shapes[i], label).rewinds) << label;
            }
        ExpectSameAsSequential(stream.bytes, 4, ReaderOptions(), std::string(stream.name) + ", workers 4");
    }
    // The reference itself is right.
    EXPECT_TRUE(RunReader(Streams()[1].bytes, 0).bytes == Mixed(600 * 1024, 2));
}

TEST(KWParallelDecompress, BlocksEndingOnThePieceBoundary)
{
    // Random bytes have no runs: each -1 block gives exactly 99981 bytes, so
    // that output size fills the buffer exactly at the end of every block.
    const std::string plain = RandomBytes(400 * 1024, 4);
    const std::string stream = ToolCompress(plain, "-1");
    const std::vector<MagicHit> hits = ScanWhole(stream);
    ASSERT_EQ(6u, hits.size()); // five blocks and the end
    unsigned cases = 0;
    for (std::size_t b = 1; b < hits.size(); ++b) {
        const std::uint64_t blockEnd = (hits[b].bit - 1) / 8 + 1; // bytes up to the block's last bit
        std::vector<unsigned> pieces{static_cast<unsigned>(blockEnd)};
        for (unsigned d = 2; d < 400 && pieces.size() < 3; ++d)
            if (blockEnd % d == 0 && blockEnd / d >= 300) pieces.push_back(static_cast<unsigned>(blockEnd / d));
        for (const unsigned piece : pieces)
            for (const unsigned output : {1u, 4096u, 99981u, 65536u}) {
                ReaderOptions options;
                options.inputPiece = piece;
                options.outputPiece = output;
                const std::string label = "block " + std::to_string(b) + " piece " + std::to_string(piece) +
                                          " output " + std::to_string(output);
                EXPECT_EQ(0u, ExpectSameAsSequential(stream, 2, options, label).rewinds) << label;
                ++cases;
            }
    }
    EXPECT_GE(cases, 20u);
    EXPECT_TRUE(RunReader(stream, 2).bytes == plain);
}

TEST(KWParallelDecompress, FalseMagicsInsideBlocksCostNothingButTime)
{
    for (const std::uint64_t magic : {kBlockMagic, kEndMagic}) {
        const std::string plain = SpellingMagic(magic, 350 * 1024, 5);
        const std::string stream = ToolCompress(plain, "-1");
        // Each of the four blocks' header holds the false magic, besides
        // the four real block magics and the end.
        const std::vector<MagicHit> hits = ScanWhole(stream);
        ASSERT_EQ(9u, hits.size());
        for (std::size_t i = 0; i < 8; i += 2) {
            EXPECT_FALSE(hits[i].streamEnd);
            EXPECT_TRUE(hits[i + 1] == (MagicHit{hits[i].bit + 105, magic == kEndMagic})) << i;
        }

        const ReaderRun run = RunReader(stream, 2);
        EXPECT_TRUE(run.bytes == plain);
        EXPECT_EQ(0u, run.rewinds);
        ReaderOptions small;
        small.inputPiece = 1000;
        small.outputPiece = 5000;
        ExpectSameAsSequential(stream, 2, small, "false magic, small pieces");
    }
}

TEST(KWParallelDecompress, BrokenStreamsFailLikeTheSequentialPipeline)
{
    const std::string good = Streams()[1].bytes; // several blocks
    const std::vector<MagicHit> hits = ScanWhole(good);
    ASSERT_GE(hits.size(), 4u);
    const std::uint64_t randomisedBit = hits[1].bit + 80;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"corrupt block", Flipped(good, good.size() / 2, 0x55)},
        {"block CRC", Flipped(good, hits[2].bit / 8 + 8, 0x01)}, // the stored CRC of the third block
        {"combined CRC", Flipped(good, good.size() - 2, 0x10)},
        {"randomised block", Flipped(good, randomisedBit / 8, 0x80 >> (randomisedBit % 8))},
        {"truncated", good.substr(0, good.size() * 2 / 3)},
        {"bytes after", good + "junk"},
        {"a piece after", good + std::string(70000, 'x')},
        {"two streams", good + good},
        {"bad level", "BZh0" + good.substr(4)},
        {"not bzip2", std::string(5000, 'x')}};
    for (const auto& c : cases)
        for (const unsigned piece : {65536u, 777u}) {
            ReaderOptions options;
            options.inputPiece = piece;
            ExpectSameAsSequential(c.second, 2, options, c.first + ", piece " + std::to_string(piece));
        }
    // A corrupt stream is seen as such, and only from the replay.
    ReaderRun corrupt = RunReader(cases[0].second, 2);
    EXPECT_NE(std::string::npos, corrupt.log.find("invalid input data")) << corrupt.log;
    EXPECT_EQ(1u, corrupt.rewinds);
}

TEST(KWParallelDecompress, SourceAndCallerErrorsComeAtTheSamePlace)
{
    const std::string& stream = Streams()[0].bytes;
    std::vector<std::pair<std::string, ReaderOptions>> cases(7);
    cases[0].first = "length past the end";
    cases[0].second.length = static_cast<long long>(stream.size()) + 10;
    cases[1].first = "length short of the end";
    cases[1].second.length = static_cast<long long>(stream.size()) / 2;
    cases[2].first = "source fails";
    cases[2].second.sourceFailsAt = static_cast<long long>(stream.size()) / 2;
    cases[3].first = "head check throws";
    cases[3].second.headCheckThrows = true;
    cases[4].first = "hook throws";
    cases[4].second.hookThrowsOn = 5;
    cases[5].first = "source fails at once";
    cases[5].second.sourceFailsAt = 0;
    cases[6].first = "head larger than the output";
    cases[6].second.headSize = 4000000;
    cases[6].second.inputPiece = 5000;
    for (const auto& c : cases) ExpectSameAsSequential(stream, 2, c.second, c.first);
    const ReaderRun stopped = RunReader(stream, 2, cases[4].second);
    EXPECT_NE(std::string::npos, stopped.log.find("hook stops")) << stopped.log;
    EXPECT_EQ(0u, stopped.rewinds);
}

TEST(KWParallelDecompress, DestroyedMidStreamStopsItsWorkers)
{
    const std::string& stream = Streams()[0].bytes;
    const std::string& zeros = Streams()[3].bytes;
    const auto start = std::chrono::steady_clock::now();
    for (const std::uint64_t stop : {0ull, 1ull, 300000ull}) {
        ReaderOptions options;
        options.stopAfter = stop;
        const ReaderRun run = RunReader(stream, 4, options);
        EXPECT_GE(run.bytes.size(), stop);
        EXPECT_LT(run.bytes.size(), stop + 65536 + 1);
        // Stopped inside a block that is decoded a second time as it goes out.
        options.stopAfter = 4200000 + stop;
        EXPECT_GE(RunReader(zeros, 2, options).bytes.size(), options.stopAfter);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}
