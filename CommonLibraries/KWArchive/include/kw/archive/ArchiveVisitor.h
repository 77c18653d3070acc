// An archive stream read record by record, without a tree: each record is
// handed to a visitor as it arrives, so that file content can go on as it
// comes. The loader's tree is built from the same parser's records.
#pragma once

#include <kw/archive/ArchiveExport.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/Node.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kw {
namespace archive {

class KW_ARCHIVE_API ArchiveVisitor {
public:
    // A node's number: 0 for the top directory "/", then one per entry in
    // the order the entries are read. The top directory is announced first,
    // as the entry "/" of the archive's root, kArchiveRoot.
    typedef std::uint32_t NodeId;
    static constexpr NodeId kArchiveRoot = 0xFFFFFFFFu;
    struct Entry {
        NodeId id;
        NodeType type;
        std::string name;  // the bytes the stream holds
    };

    virtual ~ArchiveVisitor() {}
    // Each call returns false to stop the read, which then fails.
    // A directory record: its times, each entry as it is read (its name
    // differs from those before it), and the record's end.
    virtual bool DirectoryBegin(NodeId id, const FILETIME& created, const FILETIME& modified) = 0;
    virtual bool DirectoryEntry(NodeId directory, const Entry& entry) = 0;
    virtual bool DirectoryEnd(NodeId id) = 0;
    // A file record: its length and times, its content in pieces, its end.
    virtual bool FileBegin(NodeId id, std::uint32_t length, const FILETIME& created, const FILETIME& modified) = 0;
    virtual bool FileContent(NodeId id, const void* data, unsigned size) = 0;
    virtual bool FileEnd(NodeId id) = 0;
};

// Reads a whole archive stream from the source, as ArchiveLoader does, and
// hands its records to `visitor`. True when the stream was complete and well
// formed. The source is asked for as many bytes as the reading needs (file
// content in pieces of up to 64 KiB), never for bytes after the stream.
KW_ARCHIVE_API bool VisitArchiveStream(ArchiveLoader::Source source, ArchiveVisitor& visitor);

} // namespace archive
} // namespace kw
