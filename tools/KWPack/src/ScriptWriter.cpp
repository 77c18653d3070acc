#include "ScriptWriter.h"

#include "AtomicOutput.h"
#include "PackError.h"
#include "Progress.h"

#include "SafeName.h"

#include <kw/KWConvert.h>

#include <kw/xml/XmlWriter.h>

#include <algorithm>
#include <sstream>

using kw::xml::XmlAttributes;
using kw::xml::XmlWriter;

namespace kwpack {
namespace {

XmlAttributes Attributes(std::initializer_list<std::pair<const char*, std::string>> list)
{
    XmlAttributes attributes;
    for (const auto& item : list) attributes.AddAttribute(item.first, item.second);
    return attributes;
}

unsigned WriteChecks(const std::vector<VersionCheck>& checks, XmlWriter::Sink sink, XmlWriter& writer)
{
    unsigned written = 0;
    for (const VersionCheck& check : checks)
        written += writer.WriteTag(sink, "digest", Attributes({{"file", check.file}}), check.digest);
    return written;
}

unsigned WriteDirectory(const DirectoryChanges& dir, XmlWriter::Sink sink, XmlWriter& writer)
{
    // The updater handles modify, then add, then mkdir; the script says the same.
    unsigned written = 0;
    for (const ModifiedFile& file : dir.modified)
        written += writer.WriteTag(sink, "modify", Attributes({{"name", file.entry->name}, {"digest", file.old_digest}}), "");
    for (const TreeEntry* file : dir.added) written += writer.WriteTag(sink, "add", Attributes({{"name", file->name}}), "");
    for (const TreeEntry* sub : dir.created) written += writer.WriteTag(sink, "mkdir", Attributes({{"name", sub->name}}), "");
    return written;
}

unsigned WriteRoot(const std::vector<VersionCheck>& checks, const TreeChanges& changes, XmlWriter::Sink sink,
                   XmlWriter& writer)
{
    unsigned written = 0;
    if (!checks.empty())
        written += writer.WriteTag(sink, [&](XmlWriter& inner) { return WriteChecks(checks, sink, inner); },
                                   "version_check", XmlAttributes());
    for (const DirectoryChanges& dir : changes.directories)
        written += writer.WriteTag(sink, [&](XmlWriter& inner) { return WriteDirectory(dir, sink, inner); }, "dir",
                                   Attributes({{"path", dir.path.empty() ? std::string("/") : dir.path}}));
    return written;
}

// Finds a relative path in a scanned tree; nullptr when absent.
const TreeEntry* Lookup(const TreeEntry& root, const std::string& relative)
{
    const TreeEntry* entry = &root;
    std::string::size_type start = 0;
    while (entry && start <= relative.size()) {
        std::string::size_type slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        entry = entry->Find(relative.substr(start, slash - start));
        start = slash + 1;
    }
    return entry;
}

std::vector<VersionCheck> CollectChecks(Env& env, const ScriptOptions& options, const TreeEntry& old_root,
                                        const TreeChanges& changes)
{
    std::vector<VersionCheck> checks;
    if (options.checks.empty()) {
        for (const DirectoryChanges& dir : changes.directories)
            for (const ModifiedFile& file : dir.modified)
                checks.push_back({JoinRelative(dir.path, file.entry->name), file.old_digest});
        return checks;
    }
    for (const std::string& given : options.checks) {
        const std::string file = safename::DropLeadingSlash(given);
        if (const char* problem = safename::RelativePathProblem(file))
            throw PackError("--check " + given + ": " + problem);
        const TreeEntry* entry = Lookup(old_root, file);
        if (!entry || entry->directory) throw PackError("--check " + given + ": no such file in " + options.old_dir.string());
        // The updater converts the name to CP932 to find the file.
        std::string narrow;
        try {
            kw::ConvertUtf8ToSjis(file, narrow);
        } catch (const std::exception&) {
            throw PackError("--check " + given + ": the name has no CP932 form");
        }
        if (std::any_of(checks.begin(), checks.end(), [&](const VersionCheck& check) { return check.file == file; }))
            continue;
        const std::string* known = changes.OldDigest(file);
        checks.push_back({file, known ? *known : FileDigest(env, options.old_dir / file)});
    }
    return checks;
}

void CheckVersionTexts(const ScriptOptions& options)
{
    if (options.to.empty()) throw PackError("--to needs a version text");
    // The updater keeps backups under .backup/<from>: it must be one name.
    if (const char* problem = safename::ComponentProblem(options.from))
        throw PackError("--from \"" + options.from + "\" cannot name the backup directory: " + problem);
}

std::uint64_t NewestModification(const TreeEntry& entry)
{
    std::uint64_t newest = kw::TicksOf(entry.modified);
    for (const TreeEntry& child : entry.children) newest = std::max(newest, NewestModification(child));
    return newest;
}

// The time of what KWPack makes itself: the same for the same trees, so
// that packages rebuild byte for byte.
FILETIME MadeAt(const ScriptOptions& options, const TreeEntry& new_root)
{
    const std::uint64_t ticks = options.source_date
                                    ? std::uint64_t(*options.source_date + 11644473600LL) * 10000000u
                                    : NewestModification(new_root);
    return kw::FileTimeOf(ticks);
}

// Visits the files of a directory whose content the update directory carries:
// the modified, then the added ones.
template <class Visit>
void ForEachCopied(const DirectoryChanges& dir, Visit visit)
{
    for (const ModifiedFile& file : dir.modified) visit(*file.entry);
    for (const TreeEntry* file : dir.added) visit(*file);
}

// The place of the package's own script must stay free.
void RefuseScriptNameClash(const TreeChanges& changes)
{
    if (changes.directories.empty() || !changes.directories.front().path.empty()) return;
    ForEachCopied(changes.directories.front(), [](const TreeEntry& file) {
        if (file.name == kScriptName)
            throw PackError(std::string("the new tree changes its top-level ") + kScriptName +
                            ", which the package needs for its own script");
    });
}

std::uint64_t BytesToCopy(const TreeChanges& changes)
{
    std::uint64_t total = 0;
    for (const DirectoryChanges& dir : changes.directories)
        ForEachCopied(dir, [&](const TreeEntry& file) { total += file.size; });
    return total;
}

// Gives every directory of the output the times of its NEW counterpart,
// after its content is complete (adding files changes a directory's time).
void CopyDirectoryTimes(Env& env, const Path& out, const TreeEntry& new_dir)
{
    for (const TreeEntry& child : new_dir.children)
        if (child.directory && kw::updater::IsDirectory(env, out / child.name))
            CopyDirectoryTimes(env, out / child.name, child);
    WriteTimes(env, out, new_dir.created, new_dir.modified);
}

void CopyFiles(Env& env, const ScriptOptions& options, const TreeChanges& changes, const Path& out)
{
    Progress progress("copying", BytesToCopy(changes));
    for (const DirectoryChanges& dir : changes.directories) {
        const Path from = options.new_dir / dir.path;
        const Path to = out / dir.path;
        if (dir.modified.empty() && dir.added.empty()) continue;
        Explained("cannot create " + to.string(), [&] { kw::updater::CreateDirectories(env, to); });
        ForEachCopied(dir, [&](const TreeEntry& file) {
            Explained("cannot copy " + (from / file.name).string(),
                      [&] { env.CopyFileContents(from / file.name, to / file.name); });
            WriteTimes(env, to / file.name, file.created, file.modified);
            progress.Advance(file.size);
        });
    }
    progress.Finish();
}

} // namespace

void WriteScriptXml(const std::string& from, const std::string& to, const std::vector<VersionCheck>& checks,
                    const TreeChanges& changes, std::ostream& out)
{
    XmlWriter writer(2, ' ');
    const XmlWriter::Sink sink = [&out](const void* data, unsigned size) {
        out.write(static_cast<const char*>(data), size);
        return size;
    };
    writer.Write(sink, [&](XmlWriter& document) {
        return document.WriteTag(sink, [&](XmlWriter& root) { return WriteRoot(checks, changes, sink, root); },
                                 "update", Attributes({{"from", from}, {"to", to}}));
    });
}

ScriptSummary WriteUpdateDirectory(Env& env, const ScriptOptions& options)
{
    CheckVersionTexts(options);
    RefuseExisting(env, options.out_dir, options.force);
    // Only names of the new tree travel in the package; the installed tree
    // is merely compared against.
    const TreeEntry old_root = ScanTree(env, options.old_dir, ScanFor::Comparison);
    const TreeEntry new_root =
        ScanTree(env, options.new_dir, options.creation_times ? ScanFor::PackageWithCreationTimes : ScanFor::Package);
    const TreeChanges changes = CompareTrees(env, options.old_dir, old_root, options.new_dir, new_root);
    RefuseScriptNameClash(changes);
    const std::vector<VersionCheck> checks = CollectChecks(env, options, old_root, changes);

    AtomicDirectory out(env, options.out_dir, options.force);
    CopyFiles(env, options, changes, out.path());
    {
        std::ostringstream text;
        WriteScriptXml(options.from, options.to, checks, changes, text);
        const std::string script = text.str();
        const Path path = out.path() / kScriptName;
        Explained("cannot write " + path.string(), [&] {
            const std::unique_ptr<kw::updater::WritableFile> file = env.CreateNewFile(path);
            file->Append(script.data(), script.size());
            file->Close();
        });
        const FILETIME made = MadeAt(options, new_root);
        WriteTimes(env, path, made, made);
    }
    CopyDirectoryTimes(env, out.path(), new_root);
    out.Commit();

    ScriptSummary summary;
    for (const DirectoryChanges& dir : changes.directories) {
        summary.modified += dir.modified.size();
        summary.added += dir.added.size();
        summary.created += dir.created.size();
    }
    summary.removed = changes.removed;
    return summary;
}

} // namespace kwpack
