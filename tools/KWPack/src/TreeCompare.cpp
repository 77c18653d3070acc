#include "TreeCompare.h"

#include "PackError.h"
#include "Progress.h"

#include "SafeName.h"
#include "Sha256Utils.h"

#include <map>

namespace kwpack {
namespace {

// The children of a directory by the name Windows compares: one that differs
// only in case names the same file there, which the installation is.
class ByFoldedName {
public:
    explicit ByFoldedName(const TreeEntry& dir)
    {
        for (const TreeEntry& child : dir.children) children_.emplace(safename::FoldCase(child.name), &child);
    }
    const TreeEntry* Find(const std::string& name) const
    {
        const auto found = children_.find(safename::FoldCase(name));
        return found == children_.end() ? nullptr : found->second;
    }

private:
    std::map<std::string, const TreeEntry*> children_;
};

// Bytes hashed when comparing: every OLD file with a NEW file of the same
// name, and the NEW file too when the sizes agree (else it differs anyway).
std::uint64_t BytesToHash(const TreeEntry& old_dir, const TreeEntry& new_dir)
{
    std::uint64_t total = 0;
    const ByFoldedName new_children(new_dir);
    for (const TreeEntry& old_child : old_dir.children) {
        const TreeEntry* new_child = new_children.Find(old_child.name);
        if (!new_child || new_child->directory != old_child.directory) continue;
        if (old_child.directory) total += BytesToHash(old_child, *new_child);
        else total += old_child.size + (old_child.size == new_child->size ? new_child->size : 0);
    }
    return total;
}

// Walks an OLD and a NEW directory side by side into `changes`.
struct Comparer {
    Env& env;
    TreeChanges& changes;
    Progress& progress;

    void Compare(const Path& old_path, const TreeEntry& old_dir, const Path& new_path, const TreeEntry& new_dir,
                 const std::string& relative)
    {
        DirectoryChanges here;
        here.path = relative;
        const ByFoldedName old_children(old_dir), new_children(new_dir);
        for (const TreeEntry& old_child : old_dir.children)
            if (!new_children.Find(old_child.name))
                changes.removed.push_back(JoinRelative(relative, old_child.name) + (old_child.directory ? "/" : ""));
        for (const TreeEntry& new_child : new_dir.children) {
            const TreeEntry* old_child = old_children.Find(new_child.name);
            const std::string child_relative = JoinRelative(relative, new_child.name);
            if (!old_child) {
                (new_child.directory ? here.created : here.added).push_back(&new_child);
            } else if (old_child->directory != new_child.directory) {
                throw PackError(child_relative + " is a " + (old_child->directory ? "directory" : "file") +
                                " in the old tree and a " + (new_child.directory ? "directory" : "file") +
                                " in the new one; an update script cannot change the kind of an entry");
            } else if (!new_child.directory) {
                std::string old_digest = FileDigest(env, old_path / old_child->name);
                progress.Advance(old_child->size);
                // A rename by case alone is a replacement too: the installation
                // then takes the new spelling (an `add` would find the file there).
                bool changed = old_child->size != new_child.size || old_child->name != new_child.name;
                if (!changed) {
                    changed = FileDigest(env, new_path / new_child.name) != old_digest;
                    progress.Advance(new_child.size);
                }
                if (changed) here.modified.push_back({&new_child, old_digest});
            }
        }
        if (!here.modified.empty() || !here.added.empty() || !here.created.empty())
            changes.directories.push_back(here);
        // Directories after their parent: a new one is made before it is filled.
        for (const TreeEntry& new_child : new_dir.children) {
            if (!new_child.directory) continue;
            // Kinds agree here: a mismatch was refused above. A directory only
            // in NEW is compared with an empty one: all of its files are added,
            // its subdirectories created, recursively.
            static const TreeEntry kEmpty;
            const TreeEntry* old_child = old_children.Find(new_child.name);
            Compare(old_child ? old_path / old_child->name : old_path, old_child ? *old_child : kEmpty,
                    new_path / new_child.name, new_child, JoinRelative(relative, new_child.name));
        }
    }
};

} // namespace

const std::string* TreeChanges::OldDigest(const std::string& relative) const
{
    for (const DirectoryChanges& dir : directories)
        for (const ModifiedFile& file : dir.modified)
            if (JoinRelative(dir.path, file.entry->name) == relative) return &file.old_digest;
    return nullptr;
}

std::string FileDigest(Env& env, const Path& path)
{
    // Opened natively: an installed name need not have a CP932 form.
    boost::system::error_code error;
    kw::updater::FileInputStream in(env.OpenForReading(path, error));
    if (error) throw PackError("cannot read " + path.string() + ": " + error.message());
    std::string digest;
    sha256utils::hash_from_stream(in, digest);
    if (in.bad()) throw PackError("cannot read " + path.string());
    return digest;
}

TreeChanges CompareTrees(Env& env, const Path& old_dir, const TreeEntry& old_root, const Path& new_dir,
                         const TreeEntry& new_root)
{
    TreeChanges changes;
    Progress progress("comparing", BytesToHash(old_root, new_root));
    Comparer{env, changes, progress}.Compare(old_dir, old_root, new_dir, new_root, "");
    progress.Finish();
    return changes;
}

} // namespace kwpack
