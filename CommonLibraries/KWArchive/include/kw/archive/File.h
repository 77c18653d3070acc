// A file node: its content as a list of blocks of at most 512 bytes, so that
// appending never moves what is already stored.
#pragma once

#include <kw/Pimpl.h>
#include <kw/archive/Node.h>

#include <iosfwd>
#include <string>

namespace kw {
namespace archive {

class FileImpl;

class KW_ARCHIVE_API File
    : private ::kw::pimpl::PimplBase<FileImpl, ::kw::pimpl::NoAction::Allocator<FileImpl>,
                                     ::kw::pimpl::NoAction::Deleter<FileImpl>>,
      public Node {
public:
    File();
    File(const FILETIME& created, const FILETIME& modified);
    // Loads the content of a disk file (its timestamps stay zero); raises
    // ArchiveCommonError "cannot load from file" when it cannot be read.
    explicit File(const std::string& path);
    ~File();

    // Appends the bytes in new blocks of at most 512 bytes each.
    void Add(const void* data, unsigned size);
    unsigned GetSize() const;
    // Writes block by block; stops at the first failed write and returns the
    // bytes written before it, so a result below GetSize() means failure.
    unsigned Write(std::ostream& out) const;

    void SetCreated(const FILETIME& time) override;
    void SetModified(const FILETIME& time) override;
    const FILETIME& GetCreated() const override;
    const FILETIME& GetModified() const override;
    NodeType GetType() const override;
};

} // namespace archive
} // namespace kw
