// Runs KWParallelDecompress over a stream in memory and records everything
// its user can see, so that two runs can be compared as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kw_bz2_test {

struct ReaderOptions {
    unsigned inputPiece = 65536;
    unsigned outputPiece = 65536;
    unsigned headSize = 8;
    // The declared length; the stream's size when negative.
    long long length = -1;
    // Read request sizes, used in turn.
    std::vector<unsigned> reads{65536};
    // Every third source call gives about half of what it was asked for.
    bool shortReads = false;
    // The source throws after giving this many bytes (when not negative).
    long long sourceFailsAt = -1;
    // The head check throws; the read hook throws on this call (1-based, 0: never).
    bool headCheckThrows = false;
    unsigned hookThrowsOn = 0;
    // Reading stops after this many bytes (the reader is then destroyed).
    std::uint64_t stopAfter = ~0ull;
};

// The bytes read and a log of the head check, the hook calls and the error,
// each with the number of bytes read before it.
struct ReaderRun {
    std::string bytes;
    std::string log;
    unsigned hooks = 0;
    unsigned rewinds = 0;
};

ReaderRun RunReader(const std::string& stream, unsigned workers, const ReaderOptions& options = ReaderOptions());

// The same stream read sequentially and with `workers`; returns the latter.
ReaderRun ExpectSameAsSequential(const std::string& stream, unsigned workers, const ReaderOptions& options,
                            const std::string& label);

} // namespace kw_bz2_test
