#include "SourceTree.h"

#include "PackError.h"

#include "NativeText.h"
#include "SafeName.h"

#include <kw/archive/ArchiveFormat.h>

#include <boost/filesystem/exception.hpp>

#include <algorithm>

namespace kwpack {
namespace {

// The checks a name must pass to travel in a package.
void CheckPackageName(const Path& path, TreeEntry& child)
{
    if (const char* problem = safename::ComponentProblem(child.name))
        throw PackError("the name of " + path.string() + " is refused by the updater: it " + problem);
    try {
        child.narrow_name = kw::updater::PathToNarrow(path.filename());
    } catch (const std::exception&) {
        throw PackError("the name of " + path.string() + " has no CP932 form");
    }
    if (child.narrow_name.size() > kw::archive::format::kMaxNameSize)
        throw PackError("the name of " + path.string() + " is longer than 256 bytes in CP932");
}

void ScanInto(Env& env, const Path& path, TreeEntry& entry, ScanFor purpose)
{
    kw::updater::FileStatus status;
    std::vector<Path> names;
    try {
        status = env.Status(path, false);
        if (status.IsDirectory()) names = env.ListDirectory(path);
    } catch (const boost::filesystem::filesystem_error& e) {
        throw PackError("cannot read " + path.string() + ": " + e.code().message());
    }
    if (!status.Exists()) throw PackError("cannot read " + path.string() + ": it does not exist");
    const bool packed = purpose != ScanFor::Comparison;
    if (packed) ReadTimes(env, path, entry.created, entry.modified);
    if (purpose == ScanFor::Package) entry.created = entry.modified;
    if (status.IsFile()) {
        entry.size = status.size;
        if (packed && entry.size > 0xFFFFFFFFu)
            throw PackError(path.string() + " is 4 GiB or larger; packages cannot hold it");
        return;
    }
    if (!status.IsDirectory()) throw PackError(path.string() + " is neither a regular file nor a directory");
    entry.directory = true;
    std::vector<std::string> spelled;
    for (const Path& name : names) spelled.push_back(name.string());
    std::size_t first = 0, second = 0;
    if (packed && safename::FindCaseTwins(spelled, first, second))
        throw PackError("the names of " + (path / names[first]).string() + " and " + (path / names[second]).string() +
                        " differ only in case; Windows holds only one of them");
    for (const Path& name : names) {
        TreeEntry child;
        child.name = name.string();
        if (packed) CheckPackageName(path / name, child);
        ScanInto(env, path / name, child, purpose);
        entry.children.push_back(std::move(child));
    }
    std::sort(entry.children.begin(), entry.children.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
}

} // namespace

const TreeEntry* TreeEntry::Find(const std::string& child_name) const
{
    auto it = std::lower_bound(children.begin(), children.end(), child_name,
                               [](const TreeEntry& e, const std::string& n) { return e.name < n; });
    return it != children.end() && it->name == child_name ? &*it : nullptr;
}

TreeEntry ScanTree(Env& env, const Path& root, ScanFor purpose)
{
    if (!kw::updater::IsDirectory(env, root)) throw PackError(root.string() + " is not a directory");
    TreeEntry top;
    ScanInto(env, root, top, purpose);
    return top;
}

void ReadTimes(Env& env, const Path& path, FILETIME& created, FILETIME& modified)
{
    kw::updater::FileTimes times;
    if (env.GetTimes(path, true, times) != kw::updater::TimesResult::kDone)
        throw PackError("cannot read the times of " + path.string());
    created = times.created;
    modified = times.modified;
}

void WriteTimes(Env& env, const Path& path, const FILETIME& created, const FILETIME& modified)
{
    if (env.SetTimes(path, kw::updater::FileTimes{created, modified}) != kw::updater::TimesResult::kDone)
        throw PackError("cannot set the times of " + path.string());
}

std::string JoinRelative(const std::string& parent, const std::string& name)
{
    return parent.empty() ? name : parent + "/" + name;
}

} // namespace kwpack
