// Compares an installed tree (OLD) with the tree of the next version (NEW)
// and lists, directory by directory, what an update script must do: files to
// replace (with the old file's digest), files to add, directories to create.
#pragma once

#include "SourceTree.h"

#include <string>
#include <vector>

namespace kwpack {

struct ModifiedFile {
    const TreeEntry* entry;  // in NEW
    std::string old_digest;  // SHA-256 text of the OLD file
};

struct DirectoryChanges {
    std::string path;  // relative, '/'-separated; empty for the top
    std::vector<ModifiedFile> modified;
    std::vector<const TreeEntry*> added;    // files in NEW only
    std::vector<const TreeEntry*> created;  // directories in NEW only
};

struct TreeChanges {
    // Only directories with something to do; a directory comes before the
    // directories inside it, so a new directory is created before its files
    // are added.
    std::vector<DirectoryChanges> directories;
    // Paths present only in OLD (directories end with '/'): the script
    // vocabulary has no removal, so they stay in an updated installation.
    std::vector<std::string> removed;

    // The OLD digest of a modified file by relative path, or nullptr.
    const std::string* OldDigest(const std::string& relative) const;
};

// Raises PackError where a name is a file on one side and a directory on the
// other (no script can express that) and where a file cannot be read.
TreeChanges CompareTrees(Env& env, const Path& old_dir, const TreeEntry& old_root, const Path& new_dir,
                         const TreeEntry& new_root);

// SHA-256 text digest of a file through the updater's own hashing, so the
// producer's digests are the ones the updater computes.
std::string FileDigest(Env& env, const Path& path);

} // namespace kwpack
