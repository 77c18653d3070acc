#include "ParallelCompressor.h"

#include "Bzip2Layout.h"
#include "PackError.h"

#include <kw/bz2/KWCompress.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kwpack {
namespace {

typedef std::vector<unsigned char> Bytes;

// Some four and a half blocks of the largest size: big enough that the partial
// last block of each chunk costs little, small enough to share the work
// evenly at the end.
constexpr std::size_t kChunkSize = 4 << 20;
constexpr int kBlockSize100k = 9;
constexpr std::size_t kMaxJobs = 256;

// One chunk compressed as a stream of its own.
struct CompressedChunk {
    Bytes bytes;
    Bzip2Layout layout;
};

CompressedChunk CompressChunk(const Bytes& input)
{
    CompressedChunk chunk;
    chunk.bytes.reserve(input.size() + input.size() / 100 + 600);  // bzip2's worst case
    kw::bz2::KWCompress compressor(1 << 16, kBlockSize100k, 0, 0);
    compressor.Compress(input.data(), unsigned(input.size()), true, [&chunk](const void* data, unsigned size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        chunk.bytes.insert(chunk.bytes.end(), bytes, bytes + size);
    });
    chunk.layout = LocateBlocks(chunk.bytes);
    return chunk;
}

// Bits appended most significant first; whole bytes are taken out as they
// complete.
class BitWriter {
public:
    void Put(unsigned value, int count)  // count <= 8
    {
        pending_ = (pending_ << count) | (value & ((1u << count) - 1));
        count_ += count;
        if (count_ >= 8) {
            count_ -= 8;
            bytes_.push_back(static_cast<unsigned char>(pending_ >> count_));
            pending_ &= (1u << count_) - 1;
        }
    }

    void PutWide(std::uint64_t value, int count)  // count a multiple of 8
    {
        for (int shift = count - 8; shift >= 0; shift -= 8) Put(unsigned(value >> shift) & 0xFF, 8);
    }

    // The bits [begin, end) of `source`, `begin` on a byte boundary (the
    // blocks follow the four header bytes), a whole byte per step: the
    // compressed archive passes through here.
    void Append(const Bytes& source, std::uint64_t begin, std::uint64_t end)
    {
        const unsigned char* in = source.data() + (begin >> 3);
        const std::size_t whole = std::size_t((end - begin) / 8), at = bytes_.size();
        bytes_.resize(at + whole);
        unsigned char* out = bytes_.data() + at;
        for (std::size_t k = 0; k < whole; ++k) {
            out[k] = static_cast<unsigned char>(pending_ << (8 - count_) | in[k] >> count_);
            pending_ = in[k] & ((1u << count_) - 1);
        }
        begin += std::uint64_t(whole) * 8;
        const int rest = int(end - begin);
        if (rest) Put(unsigned(ReadBits(source, begin, rest)), rest);
    }

    void PadToByte()
    {
        if (count_) Put(0, 8 - count_);
    }

    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
    unsigned pending_ = 0;
    int count_ = 0;
};

} // namespace

struct ParallelCompressor::State {
    explicit State(unsigned jobs, Sink out) : sink(std::move(out)), limit(2 * jobs)
    {
        for (unsigned i = 0; i < jobs; ++i) workers.emplace_back([this] { Work(); });
    }

    ~State()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& worker : workers) worker.join();
    }

    void Work()
    {
        for (;;) {
            std::packaged_task<CompressedChunk()> task;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping || !queue.empty(); });
                if (stopping) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            task();
        }
    }

    void Submit()
    {
        while (pending.size() >= limit) EmitOldest();
        std::packaged_task<CompressedChunk()> task([input = std::move(chunk)] { return CompressChunk(input); });
        chunk.clear(); // the next chunk starts afresh, whatever a move leaves behind
        pending.push_back(task.get_future());
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(task));
        }
        wake.notify_one();
        chunk.reserve(kChunkSize);
    }

    void EmitOldest()
    {
        const CompressedChunk done = pending.front().get();
        pending.pop_front();
        out.Append(done.bytes, kBzip2HeaderBits, done.layout.end);
        combined = FoldAfter(combined, done.layout.blocks, done.layout.crc);
        Deliver();
    }

    void Deliver()
    {
        if (!out.bytes().empty()) sink(out.bytes().data(), out.bytes().size());
        out.bytes().clear();
    }

    Sink sink;
    const std::size_t limit;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::packaged_task<CompressedChunk()>> queue;
    bool stopping = false;

    // Used by the calling thread only.
    std::deque<std::future<CompressedChunk>> pending;
    Bytes chunk;
    BitWriter out;
    std::uint32_t combined = 0;
};

ParallelCompressor::ParallelCompressor(unsigned jobs, Sink sink)
{
    if (!jobs) jobs = DefaultJobs();
    if (jobs > kMaxJobs) throw PackError("at most " + std::to_string(kMaxJobs) + " jobs can compress at once");
    state_.reset(new State(jobs, std::move(sink)));
    for (char c : std::string("BZh") + char('0' + kBlockSize100k)) state_->out.Put(static_cast<unsigned char>(c), 8);
    state_->chunk.reserve(kChunkSize);
}

ParallelCompressor::~ParallelCompressor() = default;

void ParallelCompressor::Write(const unsigned char* data, std::size_t size)
{
    while (size) {
        const std::size_t take = std::min(size, kChunkSize - state_->chunk.size());
        state_->chunk.insert(state_->chunk.end(), data, data + take);
        data += take;
        size -= take;
        if (state_->chunk.size() == kChunkSize) state_->Submit();
    }
}

void ParallelCompressor::Finish()
{
    if (!state_->chunk.empty()) state_->Submit();
    while (!state_->pending.empty()) state_->EmitOldest();
    state_->out.PutWide(kBzip2EndMagic, 48);
    state_->out.PutWide(state_->combined, 32);
    state_->out.PadToByte();
    state_->Deliver();
}

unsigned ParallelCompressor::DefaultJobs()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace kwpack
