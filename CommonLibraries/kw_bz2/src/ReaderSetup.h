// What the user gives a reader, shared by the sequential and parallel paths,
// and how far a reader got (what a replay has to pass over silently).
#pragma once

#include <kw/bz2/KWParallelDecompress.h>

#include <cstdint>

namespace kw {
namespace bz2 {

struct ReaderSetup {
    Bz2Source source;
    Bz2Rewind rewind;
    std::uint64_t length = 0;
    unsigned inputPiece = 0;
    unsigned outputPiece = 0;
    Bz2HeadCheck headCheck;
    unsigned headSize = 0;
    Bz2ReadHook readHook;
};

// Bytes already handed out, read hooks already called, head check done.
struct ReaderProgress {
    std::uint64_t bytes = 0;
    std::uint64_t hooks = 0;
    bool headChecked = false;
};

} // namespace bz2
} // namespace kw
