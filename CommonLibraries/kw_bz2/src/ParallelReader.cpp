#include "ParallelReader.h"

#include "OneBlockStream.h"

#include <algorithm>
#include <cstring>

namespace kw {
namespace bz2 {

namespace {

// Reading ahead for blocks to try stops this far past the chain's start.
const std::uint64_t kMaxReadAhead = 32u << 20;
// Steps taken on each Read without waiting, to keep the workers fed.
const int kStepsPerRead = 16;

std::uint32_t RotateLeft1(std::uint32_t v) { return v << 1 | v >> 31; }

} // namespace

ParallelReader::ParallelReader(const ReaderSetup& setup, unsigned workers, const ParallelLimits& limits)
    : setup_(setup), limits_(limits), maxOutstanding_(static_cast<std::size_t>(workers) * limits.blocksPerWorker + 1),
      keptBudget_(static_cast<std::size_t>(workers) * limits.blocksPerWorker * limits.keepCap),
      pool_(new DecodePool(workers)), piece_(setup.inputPiece), model_(setup.outputPiece)
{
}

// Workers stop before the jobs they may be running are released.
ParallelReader::~ParallelReader() { pool_.reset(); }

std::size_t ParallelReader::Trying() const { return ahead_.size() + (chainJob_ ? 1 : 0); }
std::size_t ParallelReader::Outstanding() const { return Trying() + held_.size(); }

void ParallelReader::Hold(const std::shared_ptr<BlockJob>& job)
{
    std::vector<char>& kept = job->output.kept;
    if (heldKept_ + kept.size() > keptBudget_ && !job->stream.empty()) {
        // Over budget: keep only what the head check may still need.
        const std::size_t head = progress_.headChecked ? 0 : setup_.headSize;
        if (kept.size() > head) std::vector<char>(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(head)).swap(kept);
    }
    heldKept_ += kept.size();
    held_.push_back(HeldBlock{job, 0});
}

ParallelReader::Step ParallelReader::ReadPiece()
{
    unsigned got = 0;
    try {
        got = setup_.source(piece_.data(), setup_.inputPiece);
    } catch (...) {
        // The replay calls the source again and meets its error where the
        // sequential pipeline would (see KWParallelDecompress.cpp).
        return Step::Unusual;
    }
    if (got > setup_.inputPiece) return Step::Unusual;
    if (got == 0) {
        sourceEnded_ = true;
    } else {
        window_.Append(piece_.data(), got);
        readTotal_ += got;
        pieceEnds_.push_back(readTotal_);
        if (chainEnded_ && readTotal_ > streamEnd_) return Step::Unusual; // bytes after the stream
    }
    newHits_.clear();
    scanner_.Scan(window_, sourceEnded_, newHits_);
    for (const MagicHit& hit : newHits_)
        if (hit.bit >= chainStart_) hits_.push_back(hit);
    return Step::Moved;
}

ParallelReader::Step ParallelReader::CheckHeader()
{
    if (window_.End() < kHeaderBytes) return sourceEnded_ ? Step::Unusual : Step::Idle;
    const unsigned char* h = window_.At(0);
    if (h[0] != 'B' || h[1] != 'Z' || h[2] != 'h' || h[3] < '1' || h[3] > '9') return Step::Unusual;
    level_ = static_cast<char>(h[3]);
    headerChecked_ = true;
    return Step::Moved;
}

std::shared_ptr<BlockJob> ParallelReader::MakeJob(std::uint64_t from, const MagicHit& to)
{
    std::shared_ptr<BlockJob> job = std::make_shared<BlockJob>();
    job->from = from;
    job->to = to.bit;
    job->endsStream = to.streamEnd;
    job->keepCap = limits_.keepCap;
    job->level = level_;
    job->bits = CopyBlockBits(window_, from, to.bit);
    return job;
}

void ParallelReader::DropHitsBefore(std::uint64_t bit)
{
    std::size_t dropped = 0;
    while (!hits_.empty() && hits_.front().bit < bit) {
        hits_.pop_front();
        ++dropped;
    }
    nextAhead_ = std::max<std::size_t>(1, nextAhead_ > dropped ? nextAhead_ - dropped : 0);
    // Tries that start inside a confirmed block began at a false magic.
    while (!ahead_.empty() && ahead_.begin()->first < bit) {
        ahead_.begin()->second->dropped = true;
        ahead_.erase(ahead_.begin());
    }
    window_.DropBefore(bit / 8);
}

// The end magic at the chain's start: the trailer follows.
void ParallelReader::EndChain()
{
    chainEnded_ = true;
    streamEnd_ = (chainStart_ + kTrailerBits + 7) / 8;
    model_.SetStreamEnd(streamEnd_ - 1);
    storedCombinedCrc_ = StoredBlockCrc(window_, chainStart_);
}

ParallelReader::Step ParallelReader::AdvanceChain()
{
    Step step = Step::Idle;
    while (!chainEnded_) {
        if (hits_.empty() || hits_.front().bit != chainStart_) {
            // A block must start where the previous one ended.
            const bool mayStillCome = hits_.empty() && !(sourceEnded_ && scanner_.Position() == window_.End());
            return mayStillCome ? step : Step::Unusual;
        }
        if (hits_.front().streamEnd) { // a stream without blocks
            EndChain();
            return readTotal_ > streamEnd_ ? Step::Unusual : Step::Moved;
        }
        if (!chainJob_) {
            const auto found = ahead_.find(chainStart_);
            if (found != ahead_.end()) {
                chainJob_ = found->second;
                ahead_.erase(found);
            } else if (hits_.size() >= 2 && ChainMayGrow()) {
                chainJob_ = MakeJob(chainStart_, hits_[1]);
                pool_->Submit(chainJob_, true);
            } else {
                return step;
            }
            chainEndHit_ = 1;
            step = Step::Moved;
        }
        if (!chainJob_->done) return step;
        if (!chainJob_->output.ok) {
            // The end tried may be a false magic inside the block: try the next one.
            if (chainEndHit_ + 1 >= hits_.size()) {
                const bool noMore = sourceEnded_ && scanner_.Position() == window_.End();
                const bool tooLong = window_.End() - chainStart_ / 8 > limits_.maxBlockBytes;
                return noMore || tooLong ? Step::Unusual : step;
            }
            ++chainEndHit_;
            if ((hits_[chainEndHit_].bit - chainStart_) / 8 > limits_.maxBlockBytes) return Step::Unusual;
            chainJob_ = MakeJob(chainStart_, hits_[chainEndHit_]);
            pool_->Submit(chainJob_, true);
            step = Step::Moved;
            continue;
        }
        // Confirmed. Randomised blocks (an old encoder's) are decoded otherwise.
        if (window_.Bits(chainStart_ + kMagicBits + 32, 1) != 0) return Step::Unusual;
        combinedCrc_ = RotateLeft1(combinedCrc_) ^ StoredBlockCrc(window_, chainStart_);
        model_.AddBlock((chainJob_->to - 1) / 8, chainJob_->output.size);
        Hold(chainJob_);
        chainStart_ = chainJob_->to;
        if (chainJob_->endsStream) {
            EndChain();
            if (readTotal_ > streamEnd_) return Step::Unusual; // bytes after the stream
        }
        chainJob_.reset();
        DropHitsBefore(chainStart_);
        step = Step::Moved;
    }
    return step;
}

void ParallelReader::TryAhead()
{
    const std::uint64_t neededBefore = pieceEnds_.empty() ? 0 : 8 * pieceEnds_.front();
    for (; nextAhead_ + 1 < hits_.size() && Trying() < maxOutstanding_; ++nextAhead_) {
        const MagicHit& start = hits_[nextAhead_];
        // Blocks the next call needs are tried whatever is held.
        if (Outstanding() >= maxOutstanding_ && start.bit >= neededBefore) break;
        if (start.streamEnd || ahead_.count(start.bit)) continue;
        const MagicHit& end = hits_[nextAhead_ + 1];
        if ((end.bit - start.bit) / 8 > limits_.maxBlockBytes) continue;
        std::shared_ptr<BlockJob> job = MakeJob(start.bit, end);
        ahead_.emplace(start.bit, job);
        pool_->Submit(job, false);
    }
}

bool ParallelReader::WantsInput() const
{
    if (sourceEnded_) return false;
    if (!headerChecked_ || pieceEnds_.empty()) return true;
    if (!chainEnded_) {
        // The chain waits for the end of its block.
        if (!chainJob_ && hits_.size() < 2 && ChainMayGrow()) return true;
        if (chainJob_ && chainJob_->done && !chainJob_->output.ok && chainEndHit_ + 1 >= hits_.size()) return true;
        // Room for more blocks to try ahead.
        const bool noneToTry = nextAhead_ + 1 >= hits_.size();
        if (noneToTry && Outstanding() < maxOutstanding_ && window_.End() - chainStart_ / 8 < kMaxReadAhead)
            return true;
    }
    return false;
}

ParallelReader::Step ParallelReader::Advance()
{
    Step step = Step::Idle;
    if (WantsInput()) {
        step = ReadPiece();
        if (step == Step::Unusual) return step;
    }
    if (!headerChecked_) {
        const Step header = CheckHeader();
        if (header != Step::Moved) return header == Step::Unusual ? header : step;
    }
    const Step chain = AdvanceChain();
    if (chain == Step::Unusual) return chain;
    if (chain == Step::Moved) step = Step::Moved;
    if (!chainEnded_) TryAhead();
    // Input ended before the piece that ends the stream.
    if (sourceEnded_ && pieceEnds_.empty() && !finalCallMade_) return Step::Unusual;
    return step;
}

bool ParallelReader::JobPending() const
{
    if (chainJob_ && !chainJob_->done) return true;
    for (const auto& entry : ahead_)
        if (!entry.second->done) return true;
    return false;
}

// Past the held blocks' limit, the chain grows only for the call the
// consumer waits for.
bool ParallelReader::ChainMayGrow() const { return Outstanding() < maxOutstanding_ || !NextCallReady(); }

bool ParallelReader::NextCallReady() const
{
    return !pieceEnds_.empty() && (chainEnded_ || chainStart_ >= 8 * pieceEnds_.front());
}

bool ParallelReader::CheckHead(std::uint64_t callOutput)
{
    const unsigned size = setup_.headSize;
    if (progress_.headChecked || size == 0 || !setup_.headCheck || callEnd_ + callOutput < size) return true;
    // The bytes before this call went out and are in head_; the rest is held.
    std::string head = head_;
    for (const HeldBlock& block : held_) {
        if (head.size() == size) break;
        const std::vector<char>& kept = block.job->output.kept;
        if (block.taken > kept.size()) return false;
        const std::size_t n = std::min<std::size_t>(size - head.size(), kept.size() - block.taken);
        head.append(kept.data() + block.taken, n);
        if (kept.size() < block.job->output.size && head.size() < size) return false; // not kept
    }
    if (head.size() != size) return false;
    progress_.headChecked = true;
    setup_.headCheck(head.data(), size);
    return true;
}

bool ParallelReader::StartNextCall()
{
    const std::uint64_t pieceEnd = pieceEnds_.front();
    // The sequential pipeline pushes its final piece once it has read `length`
    // bytes; the stream must end there, whole and right.
    const bool final = pieceEnd >= setup_.length || (chainEnded_ && streamEnd_ <= pieceEnd);
    if (final && (!chainEnded_ || pieceEnd != streamEnd_ || pieceEnd < setup_.length ||
                  combinedCrc_ != storedCombinedCrc_))
        return false;
    const CallModel::Call call = model_.Next(pieceEnd);
    if (call.streamEnded != final || call.inputLeft != 0) return false;
    if (!CheckHead(call.output)) return false;
    pieceEnds_.pop_front();
    callEnd_ += call.output;
    finalCallMade_ = final;
    ++progress_.hooks;
    if (setup_.readHook) setup_.readHook(pieceEnd);
    return true;
}

bool ParallelReader::HandOut(char* destination, unsigned count, unsigned& got)
{
    got = 0;
    if (count == 0) return true;
    if (held_.empty()) return false;
    HeldBlock& block = held_.front();
    const BlockOutput& output = block.job->output;
    std::uint64_t n = std::min<std::uint64_t>(count, callEnd_ - progress_.bytes);
    n = std::min(n, output.size - block.taken);
    if (block.taken < output.kept.size()) {
        n = std::min<std::uint64_t>(n, output.kept.size() - block.taken);
        std::memcpy(destination, output.kept.data() + block.taken, static_cast<std::size_t>(n));
    } else {
        // Past what was kept: decode the block again, passing over the kept part.
        if (!streamer_) {
            streamer_.reset(new BlockStreamer(block.job->stream));
            if (!streamer_->Skip(output.kept.size())) return false;
        }
        std::size_t written = 0;
        if (!streamer_->Read(destination, static_cast<std::size_t>(n), written) || written != n) return false;
    }
    if (head_.size() < setup_.headSize)
        head_.append(destination, static_cast<std::size_t>(std::min<std::uint64_t>(setup_.headSize - head_.size(), n)));
    block.taken += n;
    progress_.bytes += n;
    if (block.taken == output.size) {
        heldKept_ -= output.kept.size();
        held_.pop_front();
        streamer_.reset();
    }
    got = static_cast<unsigned>(n);
    return true;
}

bool ParallelReader::Read(void* destination, unsigned count, unsigned& got)
{
    got = 0;
    // Keep the workers busy, without waiting.
    for (int i = 0; i < kStepsPerRead; ++i) {
        const Step step = Advance();
        if (step == Step::Unusual) return false;
        if (step == Step::Idle) break;
    }
    while (progress_.bytes == callEnd_) {
        if (finalCallMade_) {
            // Like the sequential pipeline, read on: anything more is an error.
            try {
                if (setup_.source(piece_.data(), setup_.inputPiece) != 0) return false;
            } catch (...) {
                return false;
            }
            return true;
        }
        for (;;) {
            const std::uint64_t finished = pool_->Finished();
            const Step step = Advance();
            if (step == Step::Unusual) return false;
            if (NextCallReady()) break;
            if (step == Step::Moved) continue;
            if (!JobPending()) return false; // nothing can move any more
            pool_->WaitBeyond(finished);
        }
        if (!StartNextCall()) return false;
    }
    return HandOut(static_cast<char*>(destination), count, got);
}

} // namespace bz2
} // namespace kw
