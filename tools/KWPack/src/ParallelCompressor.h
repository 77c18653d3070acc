// bzip2 compression on several threads into one bzip2 stream. The input is
// cut into chunks of a fixed size; worker threads compress each chunk as a
// stream of its own, and their blocks are then joined bit by bit behind one
// header and closed by one end marker that carries the combined CRC. The
// updater's decompressor refuses bytes after an end marker, so concatenated
// streams would not do.
//
// Chunk boundaries do not depend on the job count: every job count gives
// the same bytes. At most two chunks per job are in flight, so memory stays
// bounded whatever the size of the input.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace kwpack {

class ParallelCompressor {
public:
    // Receives the compressed stream in order, on the thread that calls
    // Write and Finish.
    typedef std::function<void(const unsigned char* data, std::size_t size)> Sink;

    // `jobs` worker threads; 0 means one per core.
    ParallelCompressor(unsigned jobs, Sink sink);
    ~ParallelCompressor();
    ParallelCompressor(const ParallelCompressor&) = delete;
    ParallelCompressor& operator=(const ParallelCompressor&) = delete;

    void Write(const unsigned char* data, std::size_t size);
    // Compresses what is left and ends the stream.
    void Finish();

    static unsigned DefaultJobs();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace kwpack
