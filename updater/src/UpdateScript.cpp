#include "UpdateScript.h"

#include "AtomicFile.h"
#include "FileAttributes.h"
#include "KWUpdaterError.h"
#include "NativeText.h"
#include "SafeName.h"
#include "Sha256Utils.h"
#include "StageRecord.h"

#include <kw/KWConvert.h>
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlReader.h>
#include <kw/xml/XmlSearch.h>

#include <boost/bind/bind.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <cstdint>

using namespace boost::placeholders;
using sha256utils::hash_from_file;
using kw::xml::XmlIfElement;
using kw::xml::XmlIfKey;

namespace kw {
namespace updater {
namespace {

// A script line: one blank first.
void Say(const ScriptRun& run, const boost::format& line)
{
    run.context.listener.ScriptLine(line.str());
}

// The script's UTF-8 text in the program's narrow encoding.
std::string ToNarrow(const std::string& utf8)
{
    std::string narrow;
    kw::ConvertUtf8ToSjis(utf8, narrow, kw::default_appender());
    return narrow;
}

// Fails the run when `problem` is set; the check ran on the decoded text.
void RequireSafe(const char* problem, const char* what, const std::string& narrow, const char* label)
{
    if (!problem) return;
    const std::string text = (boost::format("unsafe %s \"%s\" in update.xml: %s") % what % narrow % problem).str();
    KW_FAIL(text.c_str(), label);
}

// A name of one entry, converted (exactly, or refused) and checked as the
// file system will see it.
std::string NarrowName(const std::string& utf8, const char* what, const char* label)
{
    const std::string narrow = ToNarrow(utf8);
    RequireSafe(safename::ComponentProblem(kw::ConvertSjisToUtf8(narrow)), what, narrow, label);
    return narrow;
}

// A relative path below the installation root without its leading '/',
// converted and checked; empty (the root itself) only when `root_allowed`.
std::string NarrowRelativePath(const std::string& utf8, bool root_allowed, const char* what, const char* label)
{
    const std::string narrow = safename::DropLeadingSlash(ToNarrow(utf8));
    if (!(narrow.empty() && root_allowed))
        RequireSafe(safename::RelativePathProblem(kw::ConvertSjisToUtf8(narrow)), what, narrow, label);
    return narrow;
}

// One component of InstalledPath.
Path InstalledEntry(Env& env, const Path& dir, const std::string& name)
{
    const Path asked = NarrowToPath(name);
    const Path spelled = env.SpelledName(dir / asked);
    if (!spelled.empty()) return dir / spelled;
    if (!IsDirectory(env, dir)) return dir / asked;
    // A file system that tells case apart (POSIX) holds the entry under
    // another case only.
    const std::string folded = safename::FoldCase(kw::ConvertSjisToUtf8(name));
    for (const Path& entry : env.ListDirectory(dir)) {
        try {
            if (safename::FoldCase(kw::ConvertSjisToUtf8(PathToNarrow(entry))) == folded) return dir / entry;
        } catch (const std::exception&) {
            // A name without a CP932 form is none of the script's.
        }
    }
    return dir / asked;
}

// An installed entry below `dir`, found as Windows finds it, on every host:
// a name (narrow, '/'-separated components) that differs only in case names
// the same entry. Its path as the disk spells it; the path as asked when
// there is none.
Path InstalledPath(Env& env, const Path& dir, const std::string& relative)
{
    Path path = dir;
    for (std::size_t start = 0, slash; start < relative.size(); start = slash + 1) {
        slash = std::min(relative.find('/', start), relative.size());
        if (slash > start) path = InstalledEntry(env, path, relative.substr(start, slash - start));
    }
    return path;
}

std::string AttributeText(const XmlElementPtr& element, const char* name, bool& present)
{
    const boost::shared_ptr<kw::xml::XmlValue> value = element->GetAttribute(name);
    present = static_cast<bool>(value);
    return value ? value->GetText() : std::string();
}

// Puts the extracted file in place whole, with its creation and modification
// times, so that the updated tree is the release tree, added files included.
// It passes through the package's own temporary file in the update
// directory: no name beside the target is ever made or removed.
void PlaceFile(const ScriptRun& run, const Path& source, const Path& target)
{
    Env& env = run.context.env;
    // A link planted in the extraction directory is never placed.
    if (env.Status(source, false).kind == FileKind::kLink) {
        const std::string text = "extracted file \"" + PathToNarrow(source) + "\" is a link";
        KW_FAIL(text.c_str(), "PlaceFile");
    }
    // The placed file keeps the read-only attribute the replaced one had, so
    // the installation looks as the vendor's installer left it.
    CopyFileAtomically(
        env, source, target, run.paths.temporary,
        [&](const Path& temporary) { CopyFsAttributes(env, source, temporary); }, env.Status(target, false).read_only);
}

// A file renamed by case alone in the new release ends with the script's
// spelling: placed under its installed name (which replaces it whole), then
// renamed, which a rerun repeats until the spellings agree.
void TakeTheScriptsSpelling(Env& env, const Path& installed, const Path& scripts)
{
    if (installed.filename() != scripts.filename()) env.Rename(installed, scripts, false);
}

} // namespace

boost::shared_ptr<kw::xml::XmlDocument> read_script(Env& env, const Path& extract_dir)
{
    static const char kScript[] = "update.xml";
    boost::system::error_code error;
    std::unique_ptr<SequentialFile> file = env.OpenForReading(extract_dir / kScript, error);
    if (!file) KW_FAIL("cannot open file", "replace");
    FileInputStream in(std::move(file));

    boost::shared_ptr<kw::xml::XmlDocument> document(new kw::xml::XmlDocument);
    kw::xml::XmlReader reader;
    reader.SetFileName(kScript);
    const std::streamoff size = static_cast<std::streamoff>(in.Size());

    reader.Prepare(*document);
    char buffer[1024];
    for (std::streamoff done = 0; done < size;) {
        in.read(buffer, std::min<std::streamoff>(sizeof buffer, size - done));
        const std::streamsize got = in.gcount();
        if (got <= 0) KW_FAIL("failed to read from xml file", "replace");
        reader << kw::xml::XmlBuffer{buffer, static_cast<std::uint32_t>(got)};
        done += got;
    }
    reader.Finish();
    document->Optimize();
    return document;
}

void replace(const ScriptRun& run, int start_stage)
{
    const boost::shared_ptr<kw::xml::XmlDocument> document = read_script(run.context.env, run.paths.extract_dir);
    replace_files(run, document->GetRootElement(), start_stage);
    // Stage 4 is recorded next and the clean-up then deletes the backups: the
    // new files must be on stable storage first.
    run.context.env.FlushFileSystem(run.paths.base_dir);
}

ScriptVersions read_versions(const XmlElementPtr& root)
{
    bool has_from = false, has_to = false;
    const std::string from_utf8 = root ? AttributeText(root, "from", has_from) : std::string();
    const std::string to_utf8 = root ? AttributeText(root, "to", has_to) : std::string();
    if (!has_from || !has_to) KW_FAIL("cannot get version from xml", "replace_files");
    // The version names the backup directory, so it must be one safe name.
    return ScriptVersions{NarrowName(from_utf8, "from version", "replace_files"), from_utf8, to_utf8};
}

void for_each_version_tag(const XmlElementPtr& root, const boost::function<void(const XmlElementPtr&)>& step)
{
    root < XmlIfElement("version_check") < XmlIfElement("digest")[XmlIfKey("file")] > step;
}

void for_each_dir(const XmlElementPtr& root, const boost::function<void(const XmlElementPtr&)>& step)
{
    root < XmlIfElement("dir")[XmlIfKey("path")] > step;
}

void replace_files(const ScriptRun& run, const XmlElementPtr& root, int stage)
{
    const ScriptVersions versions = read_versions(root);
    run.backups.SetFrom(versions.from);
    const UpdatePaths& paths = run.paths;
    if (stage == 3) {
        Env& env = run.context.env;
        for_each_version_tag(root, [&](const XmlElementPtr& digest) {
            check_version_tag(env, run.backups, paths.base_dir, paths.extract_dir, digest);
        });
        FinishStage(run.context, paths.stage_file, 3);
        run.context.listener.BeginStage(4);
    }
    run.context.listener.BeginUpdate(versions.from_utf8, versions.to_utf8);
    for_each_dir(root, [&](const XmlElementPtr& dir) { proc_dir(run, dir); });
}

EntryPlan plan_version_tag(Env& env, const Backups& backups, const Path& base_dir, const Path& extract_dir,
                           const XmlElementPtr& digest)
{
    EntryPlan plan;
    bool present = false;
    plan.name = NarrowRelativePath(AttributeText(digest, "file", present), false, "file", "check_version_tag");
    // The element's text: each direct text child replaces the one before.
    const auto text = [&plan](const boost::shared_ptr<kw::xml::XmlText>& node) { plan.expected = node->GetText(); };
    digest->ForeachChildren(kw::xml::XmlElement::ElementCallback(), text);

    plan.installed = hash_from_file(env, InstalledPath(env, base_dir, plan.name));
    if (plan.installed == plan.expected) {
        plan.action = EntryPlan::kOldVersion;
        return plan;
    }
    // Already replaced by an earlier run: its backup proves the old version.
    const Path backup = NarrowToPath(backups.GetBackupPath(plan.name));
    if (env.Status(backup, true).IsFile() && hash_from_file(env, backup) == plan.expected) {
        plan.action = EntryPlan::kBackedUp;
        return plan;
    }
    // A clean-up interrupted after the stage file was removed starts the
    // update again with the backups gone: the file then already equals the
    // one the package brings, which the script's own copy step skips.
    const Path packaged = extract_dir / NarrowToPath(plan.name);
    const bool already_new = env.Status(packaged, true).IsFile() && hash_from_file(env, packaged) == plan.installed;
    plan.action = already_new ? EntryPlan::kAlreadyNew : EntryPlan::kRefuse;
    return plan;
}

void check_version_tag(Env& env, const Backups& backups, const Path& base_dir, const Path& extract_dir,
                       const XmlElementPtr& digest)
{
    if (plan_version_tag(env, backups, base_dir, extract_dir, digest).action == EntryPlan::kRefuse)
        KW_FAIL("version unmatched!", "check_version_tag");
}

void walk_dir(Env& env, const Path& extract_dir, const Path& base_dir, const XmlElementPtr& dir, const DirSteps& steps)
{
    bool present = false;
    const std::string path_utf8 = AttributeText(dir, "path", present);
    if (!present) KW_FAIL("has not path attribute(?)", "proc_dir");
    const std::string relative =
        NarrowRelativePath(safename::DropTrailingSlash(path_utf8), true, "path", "proc_dir");
    // Messages and backups name a file by its directory's prefix and its name:
    // none for the path "/", else the relative path and '/', which is "/" alone
    // for an empty path.
    const std::string prefix = path_utf8 == "/" ? std::string() : relative + "/";

    Path source_dir = extract_dir;
    if (!relative.empty()) source_dir /= NarrowToPath(relative);
    const Path target_dir = InstalledPath(env, base_dir, relative);
    // Fixed order: replacements, additions, then new subdirectories, whose
    // files a later `dir` lists.
    dir < XmlIfElement("modify")[XmlIfKey("digest")][XmlIfKey("name")] >
        boost::bind(steps.modify, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
    dir < XmlIfElement("add")[XmlIfKey("name")] >
        boost::bind(steps.add, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
    dir < XmlIfElement("mkdir")[XmlIfKey("name")] >
        boost::bind(steps.mkdir, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
}

void proc_dir(const ScriptRun& run, const XmlElementPtr& dir)
{
    walk_dir(run.context.env, run.paths.extract_dir, run.paths.base_dir, dir,
             DirSteps{boost::bind(&modify_file, boost::cref(run), _1, _2, _3, _4),
                      boost::bind(&add_file, boost::cref(run), _1, _2, _3, _4),
                      boost::bind(&make_directory, boost::cref(run), _2, _3, _4)});
}

EntryPlan plan_modify(Env& env, const Backups& backups, const Path& source_dir, const Path& target_dir,
                      const std::string& prefix, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool has_name = false, has_digest = false;
    const std::string name_utf8 = AttributeText(element, "name", has_name);
    plan.expected = AttributeText(element, "digest", has_digest);
    if (!has_name || !has_digest) KW_FAIL("has not name and/or digest attribute(?)", "modify_file");
    plan.name = NarrowName(name_utf8, "name", "modify_file");
    const Path name = NarrowToPath(plan.name);

    plan.installed_path = InstalledEntry(env, target_dir, plan.name);
    plan.installed = hash_from_file(env, plan.installed_path);
    if (plan.installed == plan.expected) {
        plan.action = EntryPlan::kReplace;
    } else if (hash_from_file(env, source_dir / name) == plan.installed) {
        plan.action = EntryPlan::kAlreadyNew;
    } else {
        // Neither version: only a backup of the old one, taken by an
        // interrupted run, allows copying again.
        const Path backup = NarrowToPath(backups.GetBackupPath(prefix, plan.name));
        const bool backed_up = env.Status(backup, true).IsFile() && hash_from_file(env, backup) == plan.expected;
        plan.action = backed_up ? EntryPlan::kReplaceAgain : EntryPlan::kRefuse;
    }
    return plan;
}

void modify_file(const ScriptRun& run, const Path& source_dir, const Path& target_dir, const std::string& prefix,
                 const XmlElementPtr& element)
{
    const EntryPlan plan = plan_modify(run.context.env, run.backups, source_dir, target_dir, prefix, element);
    switch (plan.action) {
    case EntryPlan::kReplace:
        run.backups.BackupFile(plan.installed_path, prefix, plan.name);
        break;
    case EntryPlan::kAlreadyNew:
        Say(run, boost::format(" skip file: %s%s") % prefix % plan.name);
        TakeTheScriptsSpelling(run.context.env, plan.installed_path, target_dir / NarrowToPath(plan.name));
        return;
    case EntryPlan::kReplaceAgain:
        break;
    default:
        KW_FAIL("unmatch file!", "modify_file");
    }
    Say(run, boost::format(" copy file: %s%s") % prefix % plan.name);
    const Path name = NarrowToPath(plan.name);
    PlaceFile(run, source_dir / name, plan.installed_path);
    TakeTheScriptsSpelling(run.context.env, plan.installed_path, target_dir / name);
}

EntryPlan plan_add(Env& env, const Path& target_dir, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?)", "add_file");
    plan.name = NarrowName(name_utf8, "name", "add_file");
    const bool exists = env.Status(InstalledEntry(env, target_dir, plan.name), false).Exists();
    plan.action = exists ? EntryPlan::kSkip : EntryPlan::kAdd;
    return plan;
}

void add_file(const ScriptRun& run, const Path& source_dir, const Path& target_dir, const std::string& prefix,
              const XmlElementPtr& element)
{
    const EntryPlan plan = plan_add(run.context.env, target_dir, element);
    if (plan.action == EntryPlan::kSkip) {
        Say(run, boost::format(" skip file: %s%s") % prefix % plan.name);
        return;
    }
    Say(run, boost::format(" copy file: %s%s") % prefix % plan.name);
    const Path name = NarrowToPath(plan.name);
    PlaceFile(run, source_dir / name, target_dir / name);
}

EntryPlan plan_directory(Env& env, const Path& target_dir, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?) for <mkdir>", "make_directory");
    plan.name = NarrowName(name_utf8, "name", "make_directory");

    const FileStatus status = env.Status(InstalledEntry(env, target_dir, plan.name), true);
    plan.action = status.IsDirectory() ? EntryPlan::kDirectoryExists
                  : status.Exists()    ? EntryPlan::kRefuse
                                       : EntryPlan::kCreateDirectory;
    return plan;
}

void make_directory(const ScriptRun& run, const Path& target_dir, const std::string& prefix,
                    const XmlElementPtr& element)
{
    const EntryPlan plan = plan_directory(run.context.env, target_dir, element);
    if (plan.action == EntryPlan::kDirectoryExists) {
        Say(run, boost::format(" skip directory: %s%s") % prefix % plan.name);
        return;
    }
    if (plan.action == EntryPlan::kRefuse) {
        Say(run, boost::format(" not a directory: %s%s") % prefix % plan.name);
        KW_FAIL("not a directory for <mkdir>", "make_directory");
    }
    Say(run, boost::format(" create directory: %s%s") % prefix % plan.name);
    CreateDirectories(run.context.env, target_dir / NarrowToPath(plan.name));
}

} // namespace updater
} // namespace kw
