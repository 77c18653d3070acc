#include "ReadAhead.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/File.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <map>

namespace kw {
namespace archive {

namespace {

const unsigned PrologueSize = 8;
const unsigned NodeRecordSize = 24;
const unsigned EntryRecordSize = 12;
const unsigned MaxNameSize = 256;
const unsigned FilePieceSize = 512;

std::uint32_t LittleEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

FILETIME FileTimeAt(const unsigned char* p)
{
    FILETIME time;
    time.dwLowDateTime = LittleEndian32(p);
    time.dwHighDateTime = LittleEndian32(p + 4);
    return time;
}

unsigned RoundUpTo4(std::uint32_t n) { return (n + 3u) & ~3u; }

} // namespace

class ArchiveLoaderImpl {
public:
    ArchiveLoaderImpl() : archive_(boost::make_shared<Archive>()) {}

    bool ReadFromStream(ArchiveLoader::Source& source);
    unsigned GetReadingOffset() const { return static_cast<unsigned>(reader_.Offset()); }
    const boost::shared_ptr<Archive>& GetBody() const { return archive_; }

private:
    // Node records announced by entries and not read yet, by stream offset.
    typedef std::map<std::uint32_t, boost::shared_ptr<Node>> PendingTable;

    bool ReadExactly(ArchiveLoader::Source& source, void* destination, unsigned count)
    {
        return reader_.Read(source, destination, count) == count;
    }
    bool FillNode(ArchiveLoader::Source& source, Node& node, PendingTable& pending);
    bool FillDirectory(ArchiveLoader::Source& source, Directory& directory, std::uint32_t count, PendingTable& pending);
    bool FillFile(ArchiveLoader::Source& source, File& file, std::uint32_t length);

    boost::shared_ptr<Archive> archive_;
    ReadAhead reader_;
};

bool ArchiveLoaderImpl::ReadFromStream(ArchiveLoader::Source& source)
{
    unsigned char prologue[PrologueSize];
    if (!ReadExactly(source, prologue, PrologueSize)) return false;

    PendingTable pending;
    const boost::shared_ptr<Directory> top = boost::make_shared<Directory>();
    if (!archive_->GetRoot().AddNode("/", top)) return false;
    if (!FillNode(source, *top, pending)) return false;

    // Each further record must start exactly where the previous one ended,
    // at an offset that an entry announced.
    while (!pending.empty()) {
        const std::uint64_t position = reader_.Offset();
        if (position > UINT32_MAX) return false;
        const PendingTable::iterator next = pending.lower_bound(static_cast<std::uint32_t>(position));
        if (next == pending.end() || next->first != position) return false;
        if (!FillNode(source, *next->second, pending)) return false;
        pending.erase(next);
    }
    return true;
}

bool ArchiveLoaderImpl::FillNode(ArchiveLoader::Source& source, Node& node, PendingTable& pending)
{
    unsigned char record[NodeRecordSize];
    if (!ReadExactly(source, record, NodeRecordSize)) return false;
    const std::uint32_t length = LittleEndian32(record);
    const std::uint32_t type = LittleEndian32(record + 4);
    if (type != node.GetType()) return false;
    node.SetCreated(FileTimeAt(record + 8));
    node.SetModified(FileTimeAt(record + 16));
    // The loader made every node itself, so the type tells the class.
    if (type == NodeDirectory) return FillDirectory(source, static_cast<Directory&>(node), length, pending);
    return FillFile(source, static_cast<File&>(node), length);
}

// The declared count is only a loop bound: every entry is backed by stream
// bytes before anything is made for it.
bool ArchiveLoaderImpl::FillDirectory(ArchiveLoader::Source& source, Directory& directory, std::uint32_t count,
                                      PendingTable& pending)
{
    for (std::uint32_t i = 0; i < count; ++i) {
        unsigned char entry[EntryRecordSize];
        if (!ReadExactly(source, entry, EntryRecordSize)) return false;
        const std::uint32_t type = LittleEndian32(entry);
        const std::uint32_t offset = LittleEndian32(entry + 4);
        const std::uint32_t name_length = LittleEndian32(entry + 8);
        if (name_length > MaxNameSize) return false;

        char name[MaxNameSize];
        if (!ReadExactly(source, name, RoundUpTo4(name_length))) return false;

        boost::shared_ptr<Node> child;
        if (type == NodeDirectory) child = boost::make_shared<Directory>();
        else if (type == NodeFile) child = boost::make_shared<File>();
        else return false;

        if (!directory.AddNode(std::string(name, name_length), child)) return false;
        if (!pending.emplace(offset, child).second) return false;
    }
    return true;
}

// The declared length is only a loop bound: content arrives piece by piece.
bool ArchiveLoaderImpl::FillFile(ArchiveLoader::Source& source, File& file, std::uint32_t length)
{
    unsigned char piece[FilePieceSize];
    while (length > 0) {
        const unsigned size = std::min<std::uint32_t>(length, FilePieceSize);
        if (!ReadExactly(source, piece, RoundUpTo4(size))) return false;
        file.Add(piece, size);
        length -= size;
    }
    return true;
}

ArchiveLoader::ArchiveLoader() { install(); }

ArchiveLoader::~ArchiveLoader() {}

bool ArchiveLoader::ReadFromStream(Source source) { return holder()->ReadFromStream(source); }

unsigned ArchiveLoader::GetReadingOffset() const { return holder()->GetReadingOffset(); }

boost::shared_ptr<Archive> ArchiveLoader::GetBody() const { return holder()->GetBody(); }

} // namespace archive
} // namespace kw
