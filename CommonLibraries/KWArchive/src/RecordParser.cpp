#include "RecordParser.h"

#include <kw/archive/ArchiveFormat.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace kw {
namespace archive {

using namespace format;

namespace {

class Parser {
public:
    Parser(StreamReader& reader, ArchiveVisitor& visitor, unsigned piece)
        : reader_(reader), visitor_(visitor), piece_(piece)
    {
    }

    bool Run()
    {
        unsigned char prologue[kPrologueSize];
        if (!ReadExactly(prologue, kPrologueSize)) return false;
        if (!visitor_.DirectoryEntry(ArchiveVisitor::kArchiveRoot, ArchiveVisitor::Entry{0, NodeDirectory, "/"}))
            return false;
        if (!Node(0, NodeDirectory)) return false;
        // Each further record must start exactly where the previous one
        // ended, at an offset that an entry announced.
        while (!pending_.empty()) {
            const std::uint64_t position = reader_.Offset();
            if (position > UINT32_MAX) return false;
            const auto next = pending_.find(static_cast<std::uint32_t>(position));
            if (next == pending_.end()) return false;
            const Pending node = next->second;
            pending_.erase(next);
            if (!Node(node.id, node.type)) return false;
        }
        return true;
    }

private:
    struct Pending {
        ArchiveVisitor::NodeId id;
        NodeType type;
    };

    bool ReadExactly(void* destination, unsigned count) { return reader_.Read(destination, count) == count; }

    bool Node(ArchiveVisitor::NodeId id, NodeType expected)
    {
        unsigned char record[kNodeRecordSize];
        if (!ReadExactly(record, kNodeRecordSize)) return false;
        const std::uint32_t length = LoadLe32(record);
        if (LoadLe32(record + 4) != expected) return false;
        const FILETIME created = LoadFileTime(record + 8), modified = LoadFileTime(record + 16);
        if (expected == NodeDirectory) return Directory(id, created, modified, length);
        return File(id, created, modified, length);
    }

    // The declared count is only a loop bound: every entry is backed by
    // stream bytes before anything is made for it.
    bool Directory(ArchiveVisitor::NodeId id, const FILETIME& created, const FILETIME& modified, std::uint32_t count)
    {
        if (!visitor_.DirectoryBegin(id, created, modified)) return false;
        std::set<std::string> names;
        for (std::uint32_t i = 0; i < count; ++i) {
            unsigned char entry[kEntryRecordSize];
            if (!ReadExactly(entry, kEntryRecordSize)) return false;
            const std::uint32_t type = LoadLe32(entry);
            const std::uint32_t offset = LoadLe32(entry + 4);
            const std::uint32_t name_length = LoadLe32(entry + 8);
            if (name_length > kMaxNameSize) return false;
            char name[kMaxNameSize];
            if (!ReadExactly(name, RoundUpTo4(name_length))) return false;
            if (type != NodeDirectory && type != NodeFile) return false;
            if (!names.insert(std::string(name, name_length)).second) return false;
            const ArchiveVisitor::Entry child{next_id_++, static_cast<NodeType>(type), std::string(name, name_length)};
            if (!visitor_.DirectoryEntry(id, child)) return false;
            if (!pending_.emplace(offset, Pending{child.id, child.type}).second) return false;
        }
        return visitor_.DirectoryEnd(id);
    }

    // The declared length is only a loop bound: content arrives piece by piece.
    bool File(ArchiveVisitor::NodeId id, const FILETIME& created, const FILETIME& modified, std::uint32_t length)
    {
        if (!visitor_.FileBegin(id, length, created, modified)) return false;
        buffer_.resize(RoundUpTo4(piece_));
        while (length > 0) {
            const unsigned size = std::min<std::uint32_t>(length, piece_);
            if (!ReadExactly(buffer_.data(), RoundUpTo4(size))) return false;
            if (!visitor_.FileContent(id, buffer_.data(), size)) return false;
            length -= size;
        }
        return visitor_.FileEnd(id);
    }

    StreamReader& reader_;
    ArchiveVisitor& visitor_;
    unsigned piece_;
    ArchiveVisitor::NodeId next_id_ = 1;
    std::map<std::uint32_t, Pending> pending_;  // records announced and not read yet, by offset
    std::vector<unsigned char> buffer_;
};

} // namespace

bool ParseArchiveStream(StreamReader& reader, ArchiveVisitor& visitor, unsigned piece)
{
    return Parser(reader, visitor, piece).Run();
}

} // namespace archive
} // namespace kw
