// The parallel path: reads the source ahead, finds the blocks, has them
// decoded by a pool of workers, and hands their output out call by call of
// the sequential pipeline (CallModel.h), firing the head check and the read
// hook where that pipeline fires them. Output of a call goes out only once
// every block that call touches is decoded and checked (for the last call,
// the trailer and the combined CRC too). Whatever it cannot reproduce
// exactly (an error in the stream, a source that throws or ends early, bytes
// after the stream, a randomised block) makes Read answer false; the caller
// then replays the sequential pipeline past Progress().
#pragma once

#include "CallModel.h"
#include "DecodePool.h"
#include "MagicScanner.h"
#include "ReaderSetup.h"
#include "StreamBits.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kw {
namespace bz2 {

struct ParallelLimits {
    std::size_t keepCap = 4u << 20;      // decoded bytes kept per block; more are decoded again
    unsigned blocksPerWorker = 3;        // blocks in work or waiting to be read, per worker
    std::uint64_t maxBlockBytes = 3u << 20; // no block of a valid stream is longer
};

// Memory: the blocks in work are bounded by their number, and so are the
// checked blocks waiting to be read, except when one call of the sequential
// pipeline covers many blocks (all must be checked before its output goes
// out): such blocks expand a lot, and past a budget of decoded bytes they
// keep only their input and are decoded again as they go out. Blocks that
// expand less keep no input once decoded whole: a call holds few of them.

class ParallelReader {
public:
    ParallelReader(const ReaderSetup& setup, unsigned workers, const ParallelLimits& limits = ParallelLimits());
    ~ParallelReader();
    ParallelReader(const ParallelReader&) = delete;
    ParallelReader& operator=(const ParallelReader&) = delete;

    // Hands out up to `count` bytes in `got`; false when the stream needs the
    // sequential pipeline from here on.
    bool Read(void* destination, unsigned count, unsigned& got);

    const ReaderProgress& Progress() const { return progress_; }

private:
    enum class Step { Moved, Idle, Unusual };

    struct HeldBlock {
        std::shared_ptr<BlockJob> job;
        std::uint64_t taken = 0;
    };

    Step Advance();
    Step ReadPiece();
    Step CheckHeader();
    Step AdvanceChain();
    void EndChain();
    void DropHitsBefore(std::uint64_t bit);
    void TryAhead();
    bool WantsInput() const;
    std::shared_ptr<BlockJob> MakeJob(std::uint64_t from, const MagicHit& to);
    bool JobPending() const;
    bool ChainMayGrow() const;

    bool NextCallReady() const;
    bool StartNextCall();
    bool CheckHead(std::uint64_t callOutput);
    bool HandOut(char* destination, unsigned count, unsigned& got);
    std::size_t Outstanding() const;
    std::size_t Trying() const;
    void Hold(const std::shared_ptr<BlockJob>& job);

    const ReaderSetup& setup_;
    const ParallelLimits limits_;
    const std::size_t maxOutstanding_;
    const std::size_t keptBudget_;
    std::unique_ptr<DecodePool> pool_;

    // Input and block finding.
    std::vector<char> piece_;
    InputWindow window_;
    MagicScanner scanner_;
    std::vector<MagicHit> newHits_;
    std::deque<MagicHit> hits_; // from the chain's start on
    std::deque<std::uint64_t> pieceEnds_; // pieces read, not yet pushed as calls
    std::uint64_t readTotal_ = 0;
    bool sourceEnded_ = false;
    bool headerChecked_ = false;
    char level_ = '9';

    // The chain of confirmed blocks and the tries on it.
    std::uint64_t chainStart_ = 8 * kHeaderBytes; // first bit of the next block to confirm
    bool chainEnded_ = false;
    std::shared_ptr<BlockJob> chainJob_;
    std::size_t chainEndHit_ = 0;                 // index in hits_ of chainJob_'s end
    // Blocks tried ahead of the chain, each up to the next magic, by first bit.
    std::map<std::uint64_t, std::shared_ptr<BlockJob>> ahead_;
    std::size_t nextAhead_ = 1; // index in hits_ of the next block to try ahead
    std::uint32_t combinedCrc_ = 0;
    std::uint32_t storedCombinedCrc_ = 0;
    std::uint64_t streamEnd_ = 0; // bytes, once the chain ended

    // The calls of the sequential pipeline and the bytes handed out.
    CallModel model_;
    std::deque<HeldBlock> held_;
    std::size_t heldKept_ = 0;                // decoded bytes kept by held_
    std::unique_ptr<BlockStreamer> streamer_; // for the front block, when not kept whole
    std::uint64_t callEnd_ = 0;               // output of the calls made so far
    bool finalCallMade_ = false;
    std::string head_;
    ReaderProgress progress_;
};

} // namespace bz2
} // namespace kw
