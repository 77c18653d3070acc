#include "PowerCut.h"

#include <boost/filesystem/operations.hpp>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {
namespace {

// The snapshot that holds the flushed entries of each directory: its own
// latest, or else the latest whole-tree one.
struct Snapshots {
    fs::path journal;
    long whole = 0;
    std::map<std::string, long> directories; // relative path -> snapshot, newer than `whole`

    fs::path Listing(const std::string& relative) const
    {
        const auto own = directories.find(relative);
        return journal / std::to_string(own != directories.end() ? own->second : whole) / relative;
    }
};

Snapshots ReadIndex(const fs::path& journal)
{
    Snapshots s;
    s.journal = journal;
    std::ifstream index((journal / "index").string());
    for (std::string line; std::getline(index, line);) {
        std::istringstream in(line);
        std::string kind, relative;
        long number = 0;
        in >> kind >> number;
        if (kind == "full") {
            s.whole = number;
            s.directories.clear();
        } else {
            std::getline(in >> std::ws, relative);
            s.directories[relative] = number;
        }
    }
    if (s.whole == 0) throw std::runtime_error("the fault library kept no snapshot in " + journal.string());
    return s;
}

// Builds at `target` the flushed state of the directory `relative`.
void BuildFlushed(const Snapshots& s, const std::string& relative, const fs::path& target)
{
    fs::create_directory(target);
    const fs::path listing = s.Listing(relative);
    // A directory whose creation was flushed but none of its own entries.
    if (!fs::is_directory(listing)) return;
    for (fs::directory_iterator it(listing), end; it != end; ++it) {
        const std::string name = it->path().filename().string();
        if (fs::is_directory(it->symlink_status()))
            BuildFlushed(s, relative == "." ? name : relative + "/" + name, target / name);
        else
            fs::create_hard_link(it->path(), target / name);
    }
}

void UndoUnflushedDirectoryChanges(const fs::path& journal, const fs::path& root)
{
    const fs::path flushed = journal / "flushed";
    BuildFlushed(ReadIndex(journal), ".", flushed);
    fs::remove_all(root);
    fs::rename(flushed, root);
}

// Files named by their paths at the stop (the in-process environment's
// journal): cut before the tree is rebuilt, which keeps their data by links.
void CutUnflushedFiles(const fs::path& journal, const fs::path& root)
{
    std::ifstream dirty((journal / "dirty-paths").string());
    unsigned long long length = 0;
    std::string relative;
    while (dirty >> length && std::getline(dirty >> std::ws, relative))
        if (fs::exists(root / relative) && fs::file_size(root / relative) > length) fs::resize_file(root / relative, length);
}

// Files named by device and inode (the fault library's journal).
void CutUnflushedData(const fs::path& journal, const fs::path& root)
{
#ifndef _WIN32
    std::map<std::pair<unsigned long, unsigned long>, long long> flushed;
    std::ifstream dirty((journal / "dirty").string());
    unsigned long device = 0, inode = 0;
    long long length = 0;
    while (dirty >> device >> inode >> length) flushed[{device, inode}] = length;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const auto f = flushed.find({static_cast<unsigned long>(st.st_dev), static_cast<unsigned long>(st.st_ino)});
        if (f != flushed.end() && st.st_size > f->second && ::truncate(it->path().c_str(), f->second) != 0)
            throw std::runtime_error("cannot cut " + it->path().string());
    }
#else
    (void)journal;
    (void)root;
#endif
}

} // namespace

std::vector<std::string> PowerCutSettings(const fs::path& journal, const fs::path& root)
{
    return {"KW_SHIM_POWER=" + journal.string(), "KW_SHIM_ROOT=" + fs::canonical(root).string()};
}

void ApplyPowerCut(const fs::path& journal, const fs::path& root, Loss loss)
{
    if (loss != Loss::None) CutUnflushedFiles(journal, root);
    if (loss == Loss::DataAndDirectories) UndoUnflushedDirectoryChanges(journal, root);
    if (loss != Loss::None) CutUnflushedData(journal, root);
}

} // namespace crash
