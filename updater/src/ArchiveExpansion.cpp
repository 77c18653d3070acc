// Stage 2: the decompressed archive written out as directories and files in
// the extraction directory, each with the times its node records.
#include "ArchiveExpansion.h"

#include "Decompression.h"
#include "FileAttributes.h"
#include "KWUpdaterError.h"
#include "NativeText.h"
#include "SafeName.h"
#include "WorkingFiles.h"

#include <kw/KWConvert.h>
#include <kw/archive/Archive.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <boost/bind/bind.hpp>
#include <boost/pointer_cast.hpp>

namespace kw {
namespace updater {

using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

namespace {

// A link where a directory belongs is removed, so that a real directory
// takes its place and nothing is written through it.
void RemoveLink(Env& env, const Path& path)
{
    if (env.Status(path, false).kind == FileKind::kLink) env.Remove(path);
}

} // namespace

void construct_file(Env& env, const Path& path, const boost::shared_ptr<File>& file)
{
    if (!file) KW_FAIL("type unmatched", "construct_file");
    // Always a new file: never write through a link or into shared content.
    RemoveUnlessDirectory(env, path);
    boost::system::error_code error;
    std::unique_ptr<WritableFile> created = env.CreateNewFile(path, false, error);
    if (!created) KW_FAIL("cannot open file to output", "construct_file");
    FileOutputStream out(std::move(created));
    const unsigned size = file->GetSize();
    bool written = file->Write(out) == size;
    try {
        if (written) out.Close();
    } catch (const std::exception&) {
        written = false;
    }
    if (!written) KW_FAIL("an error occurred while writing to regular-file", "construct_file");
}

namespace {

const char kNodeActionLabel[] = "construct_tree::node_action::operator ()";

// A name from the package must name one entry inside its directory.
Path SafeChildPath(const Path& parent, const std::string& name)
{
    const Path child = NarrowToPath(name);
    // The check reads decoded text (a native Windows name is UTF-16); the
    // error's text is narrow, like every text of the program's own errors.
    if (const char* problem = safename::ComponentProblem(kw::ConvertSjisToUtf8(name))) {
        const std::string text = "unsafe name \"" + name + "\" in package: it " + problem;
        KW_FAIL(text.c_str(), kNodeActionLabel);
    }
    return parent / child;
}

struct node_action {
    Env& env;
    const Path& directory_path;

    bool operator()(const std::string& name, const boost::shared_ptr<Node>& node) const
    {
        const Path child = SafeChildPath(directory_path, name);
        switch (node->GetType()) {
        case kw::archive::NodeDirectory: {
            RemoveLink(env, child);
            const FileStatus status = env.Status(child, false);
            if (status.Exists() && !status.IsDirectory())
                KW_FAIL("path is already created, but it is not a directory", kNodeActionLabel);
            if (!status.Exists()) {
                CreateFsDirectory(env, child);
                SetFsAttributes(env, child, *node);
            }
            if (!construct_tree(env, child, boost::dynamic_pointer_cast<Directory>(node)))
                KW_FAIL("type unmatched", kNodeActionLabel);
            break;
        }
        case kw::archive::NodeFile:
            construct_file(env, child, boost::dynamic_pointer_cast<File>(node));
            break;
        default:
            KW_FAIL("unknown type", kNodeActionLabel);
        }
        // A directory takes its times after its contents are written.
        SetFsAttributes(env, child, *node);
        return true;
    }
};

// Packages are made for Windows, where two names that differ only in case
// name one file: one would overwrite the other. A name without a UTF-8 form
// is refused by the name check instead.
void RefuseCaseTwins(const Directory& directory)
{
    std::vector<std::string> narrow, decoded;
    Directory::NodeCallback collect = [&](const std::string& name, const boost::shared_ptr<Node>&) {
        try {
            decoded.push_back(kw::ConvertSjisToUtf8(name));
            narrow.push_back(name);
        } catch (const std::exception&) {
        }
        return true;
    };
    directory.ForeachNode(collect);
    std::size_t first = 0, second = 0;
    if (!safename::FindCaseTwins(decoded, first, second)) return;
    const std::string text =
        "names in package that Windows cannot tell apart: \"" + narrow[first] + "\" and \"" + narrow[second] + "\"";
    KW_FAIL(text.c_str(), "construct_tree");
}

// Creates `path` as one directory unless it is one already.
void EnsureDirectory(Env& env, const Path& path, const char* not_directory, const char* label)
{
    const FileStatus status = env.Status(path, true);
    if (!status.Exists())
        CreateFsDirectory(env, path);
    else if (!status.IsDirectory())
        KW_FAIL(not_directory, label);
}

} // namespace

bool construct_tree(Env& env, const Path& directory_path, const boost::shared_ptr<Directory>& directory)
{
    if (!directory) return false;
    RefuseCaseTwins(*directory);
    Directory::NodeCallback action = node_action{env, directory_path};
    directory->ForeachNode(action);
    return true;
}

void construct(Env& env, kw::archive::Archive& archive, const Path& extract_dir)
{
    RemoveLink(env, extract_dir);
    EnsureDirectory(env, extract_dir, "base dir is not a directory", "construct");
    const boost::shared_ptr<Node> top = archive.GetRoot().GetChildNode("/");
    if (!top) KW_FAIL("root is not created", "construct");
    const boost::shared_ptr<Directory> top_directory = boost::dynamic_pointer_cast<Directory>(top);
    if (!top_directory) KW_FAIL("root is not a directory", "construct");
    construct_tree(env, extract_dir, top_directory);
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

    kw::archive::ArchiveLoader loader;
    expand_bzip2(context.listener, input, loader, input.Size());
    construct(env, *loader.GetBody(), extract_dir);
}

} // namespace updater
} // namespace kw
