#include "SourceTree.h"

#include "PackError.h"

#include "Platform.h"
#include "SafeName.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

// The narrow (CP932) form of a path for the platform layer's calls.
std::string NarrowPath(const fs::path& path)
{
    try {
        return platform::PathToNarrow(path);
    } catch (const std::exception&) {
        throw PackError("the path " + path.string() + " has no CP932 form");
    }
}

// The checks a name must pass to travel in a package.
void CheckPackageName(const fs::path& path, TreeEntry& child)
{
    if (const char* problem = safename::ComponentProblem(child.name))
        throw PackError("the name of " + path.string() + " is refused by the updater: it " + problem);
    try {
        child.narrow_name = platform::PathToNarrow(path.filename());
    } catch (const std::exception&) {
        throw PackError("the name of " + path.string() + " has no CP932 form");
    }
    if (child.narrow_name.size() > kMaxNameBytes)
        throw PackError("the name of " + path.string() + " is longer than 256 bytes in CP932");
}

void ScanInto(const fs::path& path, TreeEntry& entry, ScanFor purpose)
{
    boost::system::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec) throw PackError("cannot read " + path.string() + ": " + ec.message());
    if (purpose == ScanFor::Package) ReadTimes(path, entry.created, entry.modified);
    if (fs::is_regular_file(status)) {
        entry.size = fs::file_size(path, ec);
        if (ec) throw PackError("cannot read " + path.string() + ": " + ec.message());
        if (purpose == ScanFor::Package && entry.size > 0xFFFFFFFFu)
            throw PackError(path.string() + " is 4 GiB or larger; packages cannot hold it");
        return;
    }
    if (!fs::is_directory(status)) throw PackError(path.string() + " is neither a regular file nor a directory");
    entry.directory = true;
    fs::directory_iterator it(path, ec), end;
    if (ec) throw PackError("cannot read directory " + path.string() + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec) throw PackError("cannot read directory " + path.string() + ": " + ec.message());
        TreeEntry child;
        child.name = it->path().filename().string();
        if (purpose == ScanFor::Package) CheckPackageName(it->path(), child);
        ScanInto(it->path(), child, purpose);
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

TreeEntry ScanTree(const fs::path& root, ScanFor purpose)
{
    boost::system::error_code ec;
    if (!fs::is_directory(root, ec)) throw PackError(root.string() + " is not a directory");
    TreeEntry top;
    ScanInto(root, top, purpose);
    return top;
}

void ReadTimes(const fs::path& path, FILETIME& created, FILETIME& modified)
{
    platform::FileHandle handle(NarrowPath(path), platform::FileHandle::Read, true);
    if (!handle.IsOpen() || !handle.GetTimes(&created, &modified))
        throw PackError("cannot read the times of " + path.string());
}

void WriteTimes(const fs::path& path, const FILETIME& created, const FILETIME& modified)
{
    platform::FileHandle handle(NarrowPath(path), platform::FileHandle::Write, true);
    if (!handle.IsOpen() || !handle.SetTimes(&created, &modified))
        throw PackError("cannot set the times of " + path.string());
}

std::string JoinRelative(const std::string& parent, const std::string& name)
{
    return parent.empty() ? name : parent + "/" + name;
}

} // namespace kwpack
