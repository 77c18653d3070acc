#include "ReadAhead.h"
#include "RecordParser.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/File.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <map>

namespace kw {
namespace archive {

namespace {

const unsigned FilePieceSize = 512;
const unsigned StreamPieceSize = 1 << 16;

// The loader's reader: everything through the 64-byte read-ahead.
class ReadAheadReader : public StreamReader {
public:
    ReadAheadReader(ReadAhead& ahead, ArchiveLoader::Source& source) : ahead_(ahead), source_(source) {}
    unsigned Read(void* destination, unsigned count) override { return ahead_.Read(source_, destination, count); }
    std::uint64_t Offset() const override { return ahead_.Offset(); }

private:
    ReadAhead& ahead_;
    ArchiveLoader::Source& source_;
};

// The visitor's reader: the source is asked for what the parser needs.
class DirectReader : public StreamReader {
public:
    explicit DirectReader(ArchiveLoader::Source& source) : source_(source) {}
    unsigned Read(void* destination, unsigned count) override
    {
        unsigned char* out = static_cast<unsigned char*>(destination);
        unsigned delivered = 0;
        while (delivered < count) {
            // A source that claims more than it was allowed to store must not
            // make us read past the destination.
            const unsigned got = std::min(source_(out + delivered, count - delivered), count - delivered);
            if (got == 0) break;
            delivered += got;
        }
        offset_ += delivered;
        return delivered;
    }
    std::uint64_t Offset() const override { return offset_; }

private:
    ArchiveLoader::Source& source_;
    std::uint64_t offset_ = 0;
};

// Builds the tree of the records: every node is made when its entry is read,
// so a stream that breaks off leaves what was built so far.
class TreeBuilder : public ArchiveVisitor {
public:
    explicit TreeBuilder(Archive& archive) : archive_(archive) {}

    bool DirectoryBegin(NodeId id, const FILETIME& created, const FILETIME& modified) override
    {
        return SetTimes(id, created, modified);
    }
    bool DirectoryEntry(NodeId directory, const Entry& entry) override
    {
        boost::shared_ptr<Node> child;
        if (entry.type == NodeDirectory) child = boost::make_shared<archive::Directory>();
        else child = boost::make_shared<File>();
        nodes_[entry.id] = child;
        archive::Directory& parent =
            directory == kArchiveRoot ? archive_.GetRoot() : static_cast<archive::Directory&>(*nodes_[directory]);
        return parent.AddNode(entry.name, child);
    }
    bool DirectoryEnd(NodeId) override { return true; }
    bool FileBegin(NodeId id, std::uint32_t, const FILETIME& created, const FILETIME& modified) override
    {
        return SetTimes(id, created, modified);
    }
    bool FileContent(NodeId id, const void* data, unsigned size) override
    {
        static_cast<File&>(*nodes_[id]).Add(data, size);
        return true;
    }
    bool FileEnd(NodeId) override { return true; }

private:
    bool SetTimes(NodeId id, const FILETIME& created, const FILETIME& modified)
    {
        nodes_[id]->SetCreated(created);
        nodes_[id]->SetModified(modified);
        return true;
    }

    Archive& archive_;
    std::map<NodeId, boost::shared_ptr<Node>> nodes_;
};

} // namespace

class ArchiveLoaderImpl {
public:
    ArchiveLoaderImpl() : archive_(boost::make_shared<Archive>()) {}

    bool ReadFromStream(ArchiveLoader::Source& source)
    {
        ReadAheadReader reader(reader_, source);
        TreeBuilder builder(*archive_);
        return ParseArchiveStream(reader, builder, FilePieceSize);
    }
    unsigned GetReadingOffset() const { return static_cast<unsigned>(reader_.Offset()); }
    const boost::shared_ptr<Archive>& GetBody() const { return archive_; }

private:
    boost::shared_ptr<Archive> archive_;
    ReadAhead reader_;
};

ArchiveLoader::ArchiveLoader() { install(); }

ArchiveLoader::~ArchiveLoader() {}

bool ArchiveLoader::ReadFromStream(Source source) { return holder()->ReadFromStream(source); }

unsigned ArchiveLoader::GetReadingOffset() const { return holder()->GetReadingOffset(); }

boost::shared_ptr<Archive> ArchiveLoader::GetBody() const { return holder()->GetBody(); }

bool VisitArchiveStream(ArchiveLoader::Source source, ArchiveVisitor& visitor)
{
    DirectReader reader(source);
    return ParseArchiveStream(reader, visitor, StreamPieceSize);
}

} // namespace archive
} // namespace kw
