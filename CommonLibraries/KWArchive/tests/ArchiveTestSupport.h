// Helpers shared by the archive tests: sources over a byte string, a
// canonical text form of a tree, and streams that record or refuse writes.
#pragma once

#include "ArchiveStreamBuilder.h"

#include <kw/archive/KWArchive.h>

#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

namespace kwtest {

using kw::FILETIME;
using kw::FileTimeOf;
using kw::TicksOf;

// Hands out the bytes in pieces of at most `step` bytes per call and records
// the capacity of every call.
class StringSource {
public:
    StringSource(std::string bytes, unsigned step = 64) : bytes_(std::move(bytes)), step_(step) {}
    unsigned operator()(void* destination, unsigned capacity);

    std::size_t Consumed() const { return position_; }
    const std::vector<unsigned>& Capacities() const { return capacities_; }

private:
    std::string bytes_;
    unsigned step_;
    std::size_t position_ = 0;
    std::vector<unsigned> capacities_;
};

// Loads the bytes through a fresh loader with the given delivery step; the
// archive outlives the loader, the source keeps its record of the calls.
struct LoadResult {
    bool ok;
    unsigned offset;
    boost::shared_ptr<kw::archive::Archive> archive;
    StringSource source;
};
LoadResult Load(const std::string& bytes, unsigned step = 64);

// Expects the node's created and modified times in ticks.
void ExpectTimes(const kw::archive::NodeIf& node, std::uint64_t created, std::uint64_t modified);

// One line per node, children in name order: path, type, both times and, for
// files, the size and content. Names are shown with unprintable bytes escaped.
std::string Dump(const kw::archive::Directory& directory);
std::string Dump(const TreeSpec& shape);
// The top directory "/" of a loaded archive (empty when absent or not a directory).
boost::shared_ptr<kw::archive::Directory> Top(const boost::shared_ptr<kw::archive::Archive>& archive);
std::string Content(const kw::archive::File& file);

// Records every write it receives as one piece; fails from write number
// `fail_at` on (0-based), never when negative.
class RecordingBuffer : public std::streambuf {
public:
    explicit RecordingBuffer(int fail_at = -1) : fail_at_(fail_at) {}
    std::vector<std::string> pieces;

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int_type overflow(int_type c) override;

private:
    int fail_at_;
};

// Writes the file into the buffer and returns what Write reports.
unsigned WriteInto(RecordingBuffer& buffer, const kw::archive::File& file);
// Expects the file to hold `content` and to write it in pieces of the given sizes.
void ExpectBlocks(const kw::archive::File& file, const std::vector<std::size_t>& sizes, const std::string& content);

} // namespace kwtest
