#include "DecodePool.h"

namespace kw {
namespace bz2 {

namespace {

// Blocks that expand more than this keep their one-block stream.
const std::size_t kStreamKeptBelowRatio = 8;

} // namespace

DecodePool::DecodePool(unsigned workers)
{
    try {
        for (unsigned i = 0; i < workers; ++i) threads_.emplace_back(&DecodePool::Work, this);
    } catch (...) {
        // Threads already started must not outlive the pool.
        stop_ = true;
        jobsReady_.notify_all();
        for (std::thread& t : threads_) t.join();
        throw;
    }
}

DecodePool::~DecodePool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    jobsReady_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void DecodePool::Submit(const std::shared_ptr<BlockJob>& job, bool urgent)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.insert(urgent ? queue_.begin() : queue_.end(), job);
    }
    jobsReady_.notify_one();
}

std::uint64_t DecodePool::Finished() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

void DecodePool::WaitBeyond(std::uint64_t finished)
{
    std::unique_lock<std::mutex> lock(mutex_);
    jobDone_.wait(lock, [&] { return finished_ > finished; });
}

void DecodePool::Work()
{
    for (;;) {
        std::shared_ptr<BlockJob> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            jobsReady_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            job = queue_.front();
            queue_.pop_front();
        }
        if (!job->dropped) {
            try {
                job->stream = MakeOneBlockStream(job->bits, job->level);
                std::vector<unsigned char>().swap(job->bits.bytes);
                job->output = DecodeOneBlock(job->stream, job->keepCap, stop_);
            } catch (...) {
                // Out of memory: the block counts as not decoded.
                job->output = BlockOutput();
            }
            // A block is decoded again when it was not kept whole, or to save
            // memory when a call holds many blocks (ParallelReader.h), which
            // only happens with blocks that expand a lot: only those keep their stream.
            const BlockOutput& out = job->output;
            const bool expands = job->stream.size() < out.size / kStreamKeptBelowRatio;
            if (!out.ok || (out.kept.size() == out.size && !expands)) std::vector<char>().swap(job->stream);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job->done = true;
            ++finished_;
        }
        jobDone_.notify_all();
    }
}

} // namespace bz2
} // namespace kw
