// A directory tree as the producer sees it before packing: names in both
// native form and CP932, types, sizes and the two file times. Only metadata
// is held; contents are streamed from disk when needed.
#pragma once

#include "Env.h"

#include <kw/FileTime.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kwpack {

using kw::FILETIME;
using kw::updater::Env;
using kw::updater::Path;

struct TreeEntry {
    std::string name;         // native (UTF-8) file name; empty for the top
    std::string narrow_name;  // the same name in CP932, as packages carry it (ScanFor::Package)
    bool directory = false;
    std::uint64_t size = 0;   // content length of a file
    FILETIME created{};   // (ScanFor::Package)
    FILETIME modified{};
    std::vector<TreeEntry> children;  // sorted by native name

    const TreeEntry* Find(const std::string& child_name) const;
};

// How much a scan checks and reads.
enum class ScanFor {
    // A tree whose names and times go into a package: raises PackError for a
    // name without a CP932 form, a name an updater refuses, one longer than
    // 256 CP932 bytes, a file of 4 GiB or more, and times that cannot be read.
    // The modification time stands for the creation time too, which a source
    // cannot vouch for (a checkout's or a copy's), so that the same trees
    // give the same package on every host.
    Package,
    // The same with the creation times read from the disk.
    PackageWithCreationTimes,
    // An installed tree that is only compared against: names and sizes.
    Comparison,
};

// Scans `root` (which must be a directory); an entry that is neither a
// regular file nor a directory raises PackError.
TreeEntry ScanTree(Env& env, const Path& root, ScanFor purpose = ScanFor::Package);

// Reads the creation and modification times of a file or directory.
void ReadTimes(Env& env, const Path& path, FILETIME& created, FILETIME& modified);
// Sets them (the environment keeps the creation time where it can).
void WriteTimes(Env& env, const Path& path, const FILETIME& created, const FILETIME& modified);

// "a/b/c" from a parent path ("" for the top) and a name.
std::string JoinRelative(const std::string& parent, const std::string& name);

} // namespace kwpack
