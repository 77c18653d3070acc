// Stage 2: the decompressed archive written out as directories and files in
// the extraction directory, each with the times its node records.
#include "ArchiveExpansion.h"
#include "KWUpdaterError.h"
#include "PackageReader.h"
#include "Platform.h"
#include "SafeName.h"
#include "StageDir.h"
#include "Stages.h"
#include "StreamLength.h"

#include <kw/archive/Archive.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <boost/bind/bind.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/pointer_cast.hpp>

#include <fstream>

namespace fs = boost::filesystem;
using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

void construct_file(const fs::path& path, const boost::shared_ptr<File>& file)
{
    if (!file) KW_FAIL("type unmatched", "construct_file");
    // A file left by an earlier run may share its content with an installed
    // file: write a new one rather than into that content.
    boost::system::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(path, ignored))) fs::remove(path, ignored);
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    if (!out) KW_FAIL("cannot open file to output", "construct_file");
    const unsigned size = file->GetSize();
    if (file->Write(out) != size || !out.flush())
        KW_FAIL("an error occurred while writing to regular-file", "construct_file");
}

bool construct_tree(const fs::path& directory_path, const boost::shared_ptr<Directory>& directory);

namespace {

const char kNodeActionLabel[] = "construct_tree::node_action::operator ()";

// A name from the package must name one entry inside its directory.
fs::path SafeChildPath(const fs::path& parent, const std::string& name)
{
    const fs::path child = platform::NarrowToPath(name);
    if (const char* problem = safename::ComponentProblem(child.native())) {
        const std::string text = "unsafe name \"" + child.native() + "\" in package: it " + problem;
        KW_FAIL(text.c_str(), kNodeActionLabel);
    }
    return parent / child;
}

struct node_action {
    const fs::path& directory_path;

    bool operator()(const std::string& name, const boost::shared_ptr<Node>& node) const
    {
        const fs::path child = SafeChildPath(directory_path, name);
        switch (node->GetType()) {
        case kw::archive::NodeDirectory: {
            const fs::file_status status = fs::status(child);
            if (fs::exists(status) && !fs::is_directory(status))
                KW_FAIL("path is already created, but it is not a directory", kNodeActionLabel);
            if (!fs::exists(status)) {
                StageDir::CreateFsDirectory(child);
                StageDir::SetFsAttributes(child, *node);
            }
            if (!construct_tree(child, boost::dynamic_pointer_cast<Directory>(node)))
                KW_FAIL("type unmatched", kNodeActionLabel);
            break;
        }
        case kw::archive::NodeFile:
            construct_file(child, boost::dynamic_pointer_cast<File>(node));
            break;
        default:
            KW_FAIL("unknown type", kNodeActionLabel);
        }
        // A directory takes its times after its contents are written.
        StageDir::SetFsAttributes(child, *node);
        return true;
    }
};

// Creates `path` as one directory unless it is one already.
void EnsureDirectory(const fs::path& path, const char* not_directory, const char* label)
{
    const fs::file_status status = fs::status(path);
    if (!fs::exists(status))
        StageDir::CreateFsDirectory(path);
    else if (!fs::is_directory(status))
        KW_FAIL(not_directory, label);
}

} // namespace

bool construct_tree(const fs::path& directory_path, const boost::shared_ptr<Directory>& directory)
{
    if (!directory) return false;
    Directory::NodeCallback action = node_action{directory_path};
    directory->ForeachNode(action);
    return true;
}

void construct(kw::archive::Archive& archive, const fs::path& extract_dir)
{
    EnsureDirectory(extract_dir, "base dir is not a directory", "construct");
    const boost::shared_ptr<Node> top = archive.GetRoot().GetChildNode("/");
    if (!top) KW_FAIL("root is not created", "construct");
    const boost::shared_ptr<Directory> top_directory = boost::dynamic_pointer_cast<Directory>(top);
    if (!top_directory) KW_FAIL("root is not a directory", "construct");
    construct_tree(extract_dir, top_directory);
}

void expand(const fs::path& update_dir, const fs::path& extract_dir)
{
    const fs::path temporary = StageDir::TemporaryPackage(extract_dir);
    EnsureDirectory(update_dir, "temporary dir is not a directory", "expand");
    std::ifstream input(temporary.string(), std::ios::binary);
    if (!input) KW_FAIL("cannot open temporary file", "expand");
    const std::streamoff length = StreamLength(input);
    if (length < 0) KW_FAIL("cannot open temporary file", "expand");

    kw::archive::ArchiveLoader loader;
    expand_bzip2(input, loader, static_cast<std::uint64_t>(length));
    construct(*loader.GetBody(), extract_dir);
}
