// Stage 2's writing side: the archive's records written out as directories
// and files in the extraction directory as they arrive, each with the times
// its record holds.
#pragma once

#include "Env.h"
#include "UpdateListener.h"

#include <kw/archive/ArchiveVisitor.h>

#include <memory>
#include <utility>
#include <vector>

namespace kw {
namespace archive {
class Archive;
}

namespace updater {

// Stage 2: decompresses the temporary package file and expands its archive.
void expand(const Context& context, const Path& update_dir, const Path& extract_dir);

// Writes an archive's records into the extraction directory (the top
// directory "/" is the extraction directory itself). The names of a
// directory are checked when its record is complete, before anything of them
// is written; a directory takes its times at Finish, once everything in it
// is written. Failures raise KWUpdaterCommonError.
class ExpansionWriter : public kw::archive::ArchiveVisitor {
public:
    ExpansionWriter(Env& env, const Path& extract_dir);
    ~ExpansionWriter() override;

    bool DirectoryBegin(NodeId id, const FILETIME& created, const FILETIME& modified) override;
    bool DirectoryEntry(NodeId directory, const Entry& entry) override;
    bool DirectoryEnd(NodeId id) override;
    bool FileBegin(NodeId id, std::uint32_t length, const FILETIME& created, const FILETIME& modified) override;
    bool FileContent(NodeId id, const void* data, unsigned size) override;
    bool FileEnd(NodeId id) override;
    // Gives every directory its times, the deepest first.
    void Finish();

private:
    Env& env_;
    Path extract_dir_;
    std::map<NodeId, Path> paths_;           // nodes whose records are still to come
    std::vector<Entry> entries_;             // of the directory record being read
    std::vector<std::pair<Path, FileTimes>> directories_;
    std::unique_ptr<FileOutputStream> file_; // the file being written
    Path file_path_;
    FileTimes file_times_;
};

// Writes a loaded archive's "/" directory into the extraction directory,
// through ExpansionWriter.
void construct(Env& env, kw::archive::Archive& archive, const Path& extract_dir);

} // namespace updater
} // namespace kw
