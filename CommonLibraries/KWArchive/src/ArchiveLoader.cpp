#include "ReadAhead.h"

#include <kw/archive/ArchiveFormat.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/File.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <map>

namespace kw {
namespace archive {

using namespace format;

namespace {
const unsigned FilePieceSize = 512;
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
    unsigned char prologue[kPrologueSize];
    if (!ReadExactly(source, prologue, kPrologueSize)) return false;

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
    unsigned char record[kNodeRecordSize];
    if (!ReadExactly(source, record, kNodeRecordSize)) return false;
    const std::uint32_t length = LoadLe32(record);
    const std::uint32_t type = LoadLe32(record + 4);
    if (type != node.GetType()) return false;
    node.SetCreated(LoadFileTime(record + 8));
    node.SetModified(LoadFileTime(record + 16));
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
        unsigned char entry[kEntryRecordSize];
        if (!ReadExactly(source, entry, kEntryRecordSize)) return false;
        const std::uint32_t type = LoadLe32(entry);
        const std::uint32_t offset = LoadLe32(entry + 4);
        const std::uint32_t name_length = LoadLe32(entry + 8);
        if (name_length > kMaxNameSize) return false;

        char name[kMaxNameSize];
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
