// Worker threads that decode blocks. The reading thread hands in jobs and
// waits for any of them to finish; nothing else is shared.
#pragma once

#include "BlockDecoder.h"
#include "OneBlockStream.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kw {
namespace bz2 {

// One try at decoding bits [from, to) of the stream as a block.
struct BlockJob {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    bool endsStream = false;       // `to` is an end-of-stream magic
    BlockBits bits;                // the block as read, until decoded
    char level = '9';
    std::vector<char> stream;      // the block as a stream of its own
    std::size_t keepCap = 0;       // output kept up to this many bytes
    BlockOutput output;            // valid once done
    std::atomic<bool> done{false};
    std::atomic<bool> dropped{false}; // no longer wanted: skipped if not started
};

class DecodePool {
public:
    explicit DecodePool(unsigned workers);
    // Stops the workers (a running decode stops soon) and joins them.
    ~DecodePool();
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // `urgent` jobs go before every waiting one.
    void Submit(const std::shared_ptr<BlockJob>& job, bool urgent);
    // Jobs finished so far; WaitBeyond(n) returns once more than n have.
    std::uint64_t Finished() const;
    void WaitBeyond(std::uint64_t finished);

private:
    void Work();

    mutable std::mutex mutex_;
    std::condition_variable jobsReady_;
    std::condition_variable jobDone_;
    std::deque<std::shared_ptr<BlockJob>> queue_;
    std::uint64_t finished_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

} // namespace bz2
} // namespace kw
