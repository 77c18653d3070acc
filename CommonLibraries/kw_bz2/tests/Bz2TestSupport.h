// Helpers of the compression tests: inputs, a recording sink, a counting
// allocation function, errors checked by class and text, the bzip2
// command-line tool and the magic scan of a whole stream.
#pragma once

#include "../src/MagicScanner.h"

#include <kw/bz2/Bz2Functions.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kw_bz2_test {

// Reproducible inputs: mixed data (see MixedData.h) and random bytes.
std::string Mixed(std::size_t size, unsigned seed, double randomShare = 0.5);
std::string RandomBytes(std::size_t size, unsigned seed);
// `data` with the byte at `at` xor-ed with `mask`.
std::string Flipped(std::string data, std::uint64_t at, unsigned mask);

// Hands `data` to `step(bytes, count, last)` in pieces of `piece` bytes (never
// when `data` is empty).
template <class Step>
void InPieces(const std::string& data, std::size_t piece, const Step& step)
{
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::size_t n = std::min(piece, data.size() - at);
        step(data.data() + at, static_cast<unsigned>(n), at + n == data.size());
    }
}

// Collects what a sink receives, with the size of each piece.
struct Recorder {
    std::string bytes;
    std::size_t calls = 0;
    std::size_t emptyCalls = 0;
    unsigned largestPiece = 0;

    kw::bz2::Bz2Sink Sink();
};

// Counts the blocks an allocation function hands out that are still alive;
// it refuses sizes above `refuseAbove`, returning nothing or throwing.
struct BlockLedger {
    explicit BlockLedger(unsigned refuse = ~0u, bool throws = false) : refuseAbove(refuse), throwInstead(throws) {}
    kw::bz2::Bz2AllocateFunction Allocate();

    const unsigned refuseAbove;
    const bool throwInstead;
    std::map<void*, unsigned> live;
    unsigned requests = 0;
};

// Runs `step`, which must throw a `Concrete` error with the text `text` that
// is caught as `Caught` (a direction tag or a standard part).
template <class Concrete, class Caught = Concrete, class Step>
void ExpectError(const Step& step, const char* text)
{
    try {
        step();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const Caught&) {
        try {
            throw;
        } catch (const Concrete& e) {
            EXPECT_STREQ(text, e.what());
        } catch (...) {
            ADD_FAILURE() << "wrong error class, expected: " << text;
        }
    }
}

// The same bytes through the tool: compressed with `options` (e.g. "-9"), or decompressed.
std::string ToolCompress(const std::string& plain, const std::string& options);
std::string ToolDecompress(const std::string& compressed);

// Every block and end magic in a whole stream, as the reader's scanner finds them.
std::vector<kw::bz2::MagicHit> ScanWhole(const std::string& stream);

} // namespace kw_bz2_test
