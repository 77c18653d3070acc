// Stage 2: the decompressed archive written out as directories and files in
// the extraction directory, each with the times its record holds.
#include "ArchiveExpansion.h"

#include "Decompression.h"
#include "FileAttributes.h"
#include "KWUpdaterError.h"
#include "NativeText.h"
#include "SafeName.h"
#include "WorkingFiles.h"

#include <kw/KWConvert.h>
#include <kw/archive/Archive.h>
#include <kw/archive/ArchiveVisitor.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <boost/pointer_cast.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace kw {
namespace updater {

using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

namespace {

const char kNodeActionLabel[] = "construct_tree::node_action::operator ()";

// Creates `path` as one directory unless it is one already.
void EnsureDirectory(Env& env, const Path& path, const char* not_directory, const char* label)
{
    const FileStatus status = env.Status(path, true);
    if (!status.Exists())
        CreateFsDirectory(env, path);
    else if (!status.IsDirectory())
        KW_FAIL(not_directory, label);
}

// As EnsureDirectory, but a link where the directory belongs is removed
// first, so that a real directory takes its place and nothing is written
// through it.
void EnsureRealDirectory(Env& env, const Path& path, const char* not_directory, const char* label)
{
    if (env.Status(path, false).kind == FileKind::kLink) env.Remove(path);
    EnsureDirectory(env, path, not_directory, label);
}

// A name from the package must name one entry inside its directory. The
// check reads decoded text (a native Windows name is UTF-16); the error's
// text is narrow, like every text of the program's own errors.
void RequireSafeName(const std::string& name)
{
    if (const char* problem = safename::ComponentProblem(kw::ConvertSjisToUtf8(name))) {
        const std::string text = "unsafe name \"" + name + "\" in package: it " + problem;
        KW_FAIL(text.c_str(), kNodeActionLabel);
    }
}

// Packages are made for Windows, where two names that differ only in case
// name one file: one would overwrite the other.
void RefuseCaseTwins(const std::vector<kw::archive::ArchiveVisitor::Entry>& entries)
{
    std::vector<std::string> decoded;
    for (const auto& entry : entries) decoded.push_back(kw::ConvertSjisToUtf8(entry.name));
    std::size_t first = 0, second = 0;
    if (!safename::FindCaseTwins(decoded, first, second)) return;
    const std::string text = "names in package that Windows cannot tell apart: \"" + entries[first].name +
                             "\" and \"" + entries[second].name + "\"";
    KW_FAIL(text.c_str(), "construct_tree");
}

// Writes an archive's records into the extraction directory (the top
// directory "/" is the extraction directory itself). The names of a
// directory are checked when its record is complete, before anything of them
// is written; a directory takes its times at Finish, once everything in it
// is written. Failures raise KWUpdaterCommonError.
class ExpansionWriter : public kw::archive::ArchiveVisitor {
public:
    ExpansionWriter(Env& env, const Path& extract_dir) : env_(env), extract_dir_(extract_dir) {}

    bool DirectoryBegin(NodeId id, const FILETIME& created, const FILETIME& modified) override
    {
        entries_.clear();
        // The top directory is the extraction directory, which keeps its own times.
        if (id != 0) directories_.emplace_back(paths_.at(id), FileTimes{created, modified});
        return true;
    }

    bool DirectoryEntry(NodeId directory, const Entry& entry) override
    {
        if (directory != kArchiveRoot) entries_.push_back(entry);
        return true;
    }

    bool DirectoryEnd(NodeId id) override
    {
        for (const Entry& entry : entries_) RequireSafeName(entry.name);
        RefuseCaseTwins(entries_);
        if (id == 0) {
            // Made once the top record is whole; an existing one is used as it
            // is, nothing in it deleted.
            EnsureRealDirectory(env_, extract_dir_, "base dir is not a directory", "construct");
            paths_[0] = extract_dir_;
        }
        const Path directory = paths_.at(id);
        paths_.erase(id);
        for (const Entry& entry : entries_) {
            const Path child = directory / NarrowToPath(entry.name);
            paths_[entry.id] = child;
            if (entry.type != kw::archive::NodeDirectory) continue;
            EnsureRealDirectory(env_, child, "path is already created, but it is not a directory", kNodeActionLabel);
        }
        return true;
    }

    bool FileBegin(NodeId id, std::uint32_t, const FILETIME& created, const FILETIME& modified) override
    {
        file_path_ = paths_.at(id);
        paths_.erase(id);
        file_times_ = FileTimes{created, modified};
        // Always a new file: never write through a link or into shared content.
        RemoveUnlessDirectory(env_, file_path_);
        boost::system::error_code error;
        std::unique_ptr<WritableFile> created_file = env_.CreateNewFile(file_path_, false, error);
        if (!created_file) KW_FAIL("cannot open file to output", "construct_file");
        file_.reset(new FileOutputStream(std::move(created_file)));
        return true;
    }

    bool FileContent(NodeId, const void* data, unsigned size) override
    {
        if (!file_->write(static_cast<const char*>(data), static_cast<std::streamsize>(size)))
            KW_FAIL("an error occurred while writing to regular-file", "construct_file");
        return true;
    }

    bool FileEnd(NodeId) override
    {
        try {
            file_->Close();
        } catch (const std::exception&) {
            KW_FAIL("an error occurred while writing to regular-file", "construct_file");
        }
        file_.reset();
        SetFsAttributes(env_, file_path_, file_times_.created, file_times_.modified);
        return true;
    }

    // Gives every directory its times, the deepest first.
    void Finish()
    {
        for (auto it = directories_.rbegin(); it != directories_.rend(); ++it)
            SetFsAttributes(env_, it->first, it->second.created, it->second.modified);
    }

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

// Hands a loaded tree to a visitor as its records would arrive.
class TreeWalk {
public:
    explicit TreeWalk(kw::archive::ArchiveVisitor& visitor) : visitor_(visitor) {}

    void Directory(const archive::Directory& directory, kw::archive::ArchiveVisitor::NodeId id)
    {
        std::vector<std::pair<kw::archive::ArchiveVisitor::NodeId, boost::shared_ptr<Node>>> children;
        visitor_.DirectoryBegin(id, directory.GetCreated(), directory.GetModified());
        archive::Directory::NodeCallback entry = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
            children.emplace_back(next_++, node);
            return visitor_.DirectoryEntry(id, {children.back().first, node->GetType(), name});
        };
        directory.ForeachNode(entry);
        visitor_.DirectoryEnd(id);
        for (const auto& child : children) {
            if (child.second->GetType() == kw::archive::NodeDirectory) {
                Directory(static_cast<const archive::Directory&>(*child.second), child.first);
                continue;
            }
            const File& file = static_cast<const File&>(*child.second);
            std::ostringstream content;
            file.Write(content);
            visitor_.FileBegin(child.first, file.GetSize(), file.GetCreated(), file.GetModified());
            visitor_.FileContent(child.first, content.str().data(), static_cast<unsigned>(content.str().size()));
            visitor_.FileEnd(child.first);
        }
    }

private:
    kw::archive::ArchiveVisitor& visitor_;
    kw::archive::ArchiveVisitor::NodeId next_ = 1;
};

} // namespace

void construct(Env& env, kw::archive::Archive& archive, const Path& extract_dir)
{
    // The extraction directory first, as a stream's top record makes it.
    EnsureRealDirectory(env, extract_dir, "base dir is not a directory", "construct");
    const boost::shared_ptr<Node> top = archive.GetRoot().GetChildNode("/");
    if (!top) KW_FAIL("root is not created", "construct");
    const boost::shared_ptr<Directory> top_directory = boost::dynamic_pointer_cast<Directory>(top);
    if (!top_directory) KW_FAIL("root is not a directory", "construct");
    ExpansionWriter writer(env, extract_dir);
    TreeWalk(writer).Directory(*top_directory, 0);
    writer.Finish();
}

void expand(const Context& context, const Path& update_dir, const Path& extract_dir)
{
    Env& env = context.env;
    const Path temporary = TemporaryPackage(env, extract_dir);
    EnsureDirectory(env, update_dir, "temporary dir is not a directory", "expand");
    boost::system::error_code error;
    std::unique_ptr<SequentialFile> file = env.OpenForReading(temporary, error);
    if (!file) KW_FAIL("cannot open temporary file", "expand");
    FileInputStream input(std::move(file));

    ExpansionWriter writer(env, extract_dir);
    expand_bzip2(context.listener, input, input.Size(), writer);
    writer.Finish();
}

} // namespace updater
} // namespace kw
