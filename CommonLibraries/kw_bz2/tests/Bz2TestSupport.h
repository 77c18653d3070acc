// Helpers of the compression tests: a recording sink, the bzip2
// command-line tool and the magic scan of a whole stream.
#pragma once

#include "../src/MagicScanner.h"

#include <kw/bz2/Bz2Functions.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kw_bz2_test {

// Collects what a sink receives, with the size of each piece.
struct Recorder {
    std::string bytes;
    std::size_t calls = 0;
    std::size_t emptyCalls = 0;
    unsigned largestPiece = 0;

    kw::bz2::Bz2Sink Sink();
};

// The same bytes through the tool: compressed with `options` (e.g. "-9"), or decompressed.
std::string ToolCompress(const std::string& plain, const std::string& options);
std::string ToolDecompress(const std::string& compressed);

// Every block and end magic in a whole stream, as the reader's scanner finds them.
std::vector<kw::bz2::MagicHit> ScanWhole(const std::string& stream);

} // namespace kw_bz2_test
