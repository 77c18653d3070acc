#include "ArchiveWriter.h"

#include "PackError.h"

#include <kw/archive/ArchiveFormat.h>
#include <kw/archive/Node.h>

#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace kwpack {
namespace {

namespace format = kw::archive::format;
constexpr std::uint32_t kTypeDirectory = kw::archive::NodeDirectory;
constexpr std::uint32_t kTypeFile = kw::archive::NodeFile;
constexpr std::size_t kBufferSize = 1 << 16;

std::uint64_t Padded(std::uint64_t n)
{
    return (n + 3) & ~std::uint64_t(3);
}

// Bytes of a node's record and body, without its descendants' records.
std::uint64_t OwnBytes(const TreeEntry& entry)
{
    if (!entry.directory) return format::kNodeRecordSize + Padded(entry.size);
    std::uint64_t bytes = format::kNodeRecordSize;
    for (const TreeEntry& child : entry.children) bytes += format::kEntryRecordSize + Padded(child.narrow_name.size());
    return bytes;
}

// Subtree sizes, computed once, since each directory's entries announce
// where every child's subtree will start.
class SubtreeSizes {
public:
    std::uint64_t Of(const TreeEntry& entry)
    {
        auto found = sizes_.find(&entry);
        if (found != sizes_.end()) return found->second;
        std::uint64_t bytes = OwnBytes(entry);
        for (const TreeEntry& child : entry.children) bytes += Of(child);
        sizes_.emplace(&entry, bytes);
        return bytes;
    }

private:
    std::unordered_map<const TreeEntry*, std::uint64_t> sizes_;
};

// Collects small writes into one buffer handed to the sink when full.
class BufferedSink {
public:
    explicit BufferedSink(const ByteSink& sink) : sink_(sink), buffer_(kBufferSize) {}

    void Put(const void* data, std::size_t size)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        while (size) {
            std::size_t n = std::min(size, buffer_.size() - used_);
            std::memcpy(&buffer_[used_], bytes, n);
            Commit(n);
            bytes += n;
            size -= n;
        }
    }

    void PutWord(std::uint32_t value)
    {
        unsigned char word[4];
        format::StoreLe32(word, value);
        Put(word, 4);
    }

    void PutTime(const FILETIME& time)
    {
        PutWord(time.dwLowDateTime);
        PutWord(time.dwHighDateTime);
    }

    void PadTo4(std::uint64_t length)
    {
        static const unsigned char zeros[3] = {0, 0, 0};
        Put(zeros, std::size_t(Padded(length) - length));
    }

    // Free room at the buffer's end, for reading file content straight in.
    unsigned char* Room(std::size_t& size)
    {
        if (used_ == buffer_.size()) Flush();
        size = buffer_.size() - used_;
        return &buffer_[used_];
    }
    void Commit(std::size_t size)
    {
        used_ += size;
        if (used_ == buffer_.size()) Flush();
    }

    void Flush()
    {
        if (used_) sink_(buffer_.data(), used_);
        used_ = 0;
    }

private:
    const ByteSink& sink_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
};

class StreamWriter {
public:
    StreamWriter(Env& env, const ByteSink& sink) : env_(env), out_(sink) {}

    void Run(const Path& directory, const TreeEntry& root, const std::string& prologue)
    {
        if (prologue.size() != format::kPrologueSize) throw PackError("the archive prologue must be 8 bytes");
        const std::uint64_t total = prologue.size() + sizes_.Of(root);
        if (total > 0xFFFFFFFFu) throw PackError("the tree is too large for one package (4 GiB of archive data)");
        out_.Put(prologue.data(), prologue.size());
        WriteNode(directory, root, prologue.size());
        out_.Flush();
    }

private:
    // Writes the subtree of `entry` whose node record starts at `offset`.
    void WriteNode(const Path& path, const TreeEntry& entry, std::uint64_t offset)
    {
        out_.PutWord(entry.directory ? std::uint32_t(entry.children.size()) : std::uint32_t(entry.size));
        out_.PutWord(entry.directory ? kTypeDirectory : kTypeFile);
        out_.PutTime(entry.created);
        out_.PutTime(entry.modified);
        if (!entry.directory) {
            WriteContent(path, entry.size);
            return;
        }
        std::uint64_t child_offset = offset + OwnBytes(entry);
        for (const TreeEntry& child : entry.children) {
            out_.PutWord(child.directory ? kTypeDirectory : kTypeFile);
            out_.PutWord(std::uint32_t(child_offset));
            out_.PutWord(std::uint32_t(child.narrow_name.size()));
            out_.Put(child.narrow_name.data(), child.narrow_name.size());
            out_.PadTo4(child.narrow_name.size());
            child_offset += sizes_.Of(child);
        }
        child_offset = offset + OwnBytes(entry);
        for (const TreeEntry& child : entry.children) {
            WriteNode(path / child.name, child, child_offset);
            child_offset += sizes_.Of(child);
        }
    }

    void WriteContent(const Path& path, std::uint64_t size)
    {
        boost::system::error_code error;
        const std::unique_ptr<kw::updater::SequentialFile> file = env_.OpenForReading(path, error);
        const std::string cannot_read = "cannot read " + path.string(); // once, not for every piece
        if (!file) throw PackError(cannot_read + ": " + error.message());
        std::uint64_t remaining = size;
        for (;;) {
            std::size_t room;
            unsigned char* into = out_.Room(room);
            // Ask for one byte beyond the scanned length to notice growth.
            std::size_t want = std::size_t(std::min<std::uint64_t>(room, remaining + 1));
            const std::size_t got = Explained(cannot_read, [&] { return file->Read(into, want); });
            if (got == 0) break;
            if (got > remaining) throw PackError(path.string() + " changed while it was packed");
            out_.Commit(got);
            remaining -= got;
        }
        if (remaining) throw PackError(path.string() + " changed while it was packed");
        out_.PadTo4(size);
    }

    Env& env_;
    BufferedSink out_;
    SubtreeSizes sizes_;
};

} // namespace

std::uint64_t ArchiveStreamSize(const TreeEntry& root)
{
    return format::kPrologueSize + SubtreeSizes().Of(root);
}

void WriteArchiveStream(Env& env, const Path& directory, const TreeEntry& root, const std::string& prologue,
                        const ByteSink& sink)
{
    StreamWriter(env, sink).Run(directory, root, prologue);
}

} // namespace kwpack
