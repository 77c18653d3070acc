#include "UpdateScript.h"

#include "AtomicFile.h"
#include "KWUpdaterError.h"
#include "Platform.h"
#include "SafeName.h"
#include "Sha256Utils.h"
#include "StageDir.h"
#include "StreamLength.h"

#include <kw/KWConvert.h>
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlReader.h>
#include <kw/xml/XmlSearch.h>

#include <boost/bind/bind.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>

namespace fs = boost::filesystem;
using namespace boost::placeholders;
using kw::xml::XmlIfElement;
using kw::xml::XmlIfKey;

namespace {

// A script line: one blank first, in the terminal's encoding, flushed.
void Say(const boost::format& line)
{
    std::cout << platform::NarrowToConsole(line.str()) << std::endl;
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

// Messages and backups name a file by its directory's prefix and its name:
// none for the path "/", else the relative path and '/', which is "/" alone
// for an empty path.
std::string Prefix(const std::string& path_utf8, const std::string& relative)
{
    return path_utf8 == "/" ? std::string() : relative + "/";
}

std::string Hash(const fs::path& file)
{
    return sha256utils::hash_from_file(platform::PathToNarrow(file));
}

std::string AttributeText(const XmlElementPtr& element, const char* name, bool& present)
{
    const boost::shared_ptr<kw::xml::XmlValue> value = element->GetAttribute(name);
    present = static_cast<bool>(value);
    return value ? value->GetText() : std::string();
}

// The element's text: each direct text child replaces the one before.
std::string ElementText(const XmlElementPtr& element)
{
    std::string text;
    element->ForeachChildren(kw::xml::XmlElement::ElementCallback(),
                             [&text](const boost::shared_ptr<kw::xml::XmlText>& node) { text = node->GetText(); });
    return text;
}

void ReportCleanupError(const std::string& console_text)
{
    std::cerr << boost::format("Error: %s") % console_text << std::endl;
}

} // namespace

boost::shared_ptr<kw::xml::XmlDocument> read_script(const fs::path& extract_dir)
{
    static const char kScript[] = "update.xml";
    std::ifstream in((extract_dir / kScript).c_str(), std::ios::binary);
    if (!in) KW_FAIL("cannot open file", "replace");

    boost::shared_ptr<kw::xml::XmlDocument> document(new kw::xml::XmlDocument);
    kw::xml::XmlReader reader;
    reader.SetFileName(kScript);
    const std::streamoff size = StreamLength(in);
    if (size < 0 || !in) KW_FAIL("failed to read from xml file", "replace");

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

void replace(const fs::path& stem, const fs::path& base_dir, StageDir& stage_dir, int start_stage,
             const fs::path& extract_dir)
{
    const boost::shared_ptr<kw::xml::XmlDocument> document = read_script(extract_dir);
    replace_files(document->GetRootElement(), stage_dir, stem, start_stage, extract_dir, base_dir);
    // Stage 4 is recorded next and the clean-up then deletes the backups: the
    // new files must be on stable storage first.
    platform::FlushFileSystem(base_dir);
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

void replace_files(const XmlElementPtr& root, StageDir& stage_dir, const fs::path& stem, int stage,
                   const fs::path& extract_dir, const fs::path& base_dir)
{
    const ScriptVersions versions = read_versions(root);
    stage_dir.SetBackupSubDir(versions.from);
    if (stage == 3) {
        for_each_version_tag(root, boost::bind(&check_version_tag, boost::cref(stage_dir), boost::cref(base_dir),
                                               boost::cref(extract_dir), _1));
        StageDir::FinishStage(platform::PathToNarrow(stem), stage_dir, 3);
        StageDir::BeginStage(4);
    }
    // `to` is only shown, so it never fails the update: the line is built
    // from the script's UTF-8 text (`from` converts exactly, as checked).
    std::cout << platform::Utf8ToConsole(
                     (boost::format(" begin update: ver%s => ver%s") % versions.from_utf8 % versions.to_utf8).str())
              << std::endl;
    for_each_dir(root, boost::bind(&proc_dir, boost::cref(stage_dir), boost::cref(extract_dir), boost::cref(base_dir), _1));
}

EntryPlan plan_version_tag(const StageDir& stage_dir, const fs::path& base_dir, const fs::path& extract_dir,
                           const XmlElementPtr& digest)
{
    EntryPlan plan;
    bool present = false;
    plan.name = NarrowRelativePath(AttributeText(digest, "file", present), false, "file", "check_version_tag");
    plan.expected = ElementText(digest);

    plan.installed = Hash(base_dir / platform::NarrowToPath(plan.name));
    if (plan.installed == plan.expected) {
        plan.action = EntryPlan::kOldVersion;
        return plan;
    }
    // Already replaced by an earlier run: its backup proves the old version.
    const fs::path backup = platform::NarrowToPath(StageDir::GetBackupPath(stage_dir, plan.name));
    if (fs::is_regular_file(backup) && Hash(backup) == plan.expected) {
        plan.action = EntryPlan::kBackedUp;
        return plan;
    }
    // A clean-up interrupted after the stage file was removed starts the
    // update again with the backups gone: the file then already equals the
    // one the package brings, which the script's own copy step skips.
    const fs::path packaged = extract_dir / platform::NarrowToPath(plan.name);
    const bool already_new = fs::is_regular_file(packaged) && Hash(packaged) == plan.installed;
    plan.action = already_new ? EntryPlan::kAlreadyNew : EntryPlan::kRefuse;
    return plan;
}

void check_version_tag(const StageDir& stage_dir, const fs::path& base_dir, const fs::path& extract_dir,
                       const XmlElementPtr& digest)
{
    if (plan_version_tag(stage_dir, base_dir, extract_dir, digest).action == EntryPlan::kRefuse)
        KW_FAIL("version unmatched!", "check_version_tag");
}

void walk_dir(const fs::path& extract_dir, const fs::path& base_dir, const XmlElementPtr& dir, const DirSteps& steps)
{
    bool present = false;
    const std::string path_utf8 = AttributeText(dir, "path", present);
    if (!present) KW_FAIL("has not path attribute(?)", "proc_dir");
    const std::string relative =
        NarrowRelativePath(safename::DropTrailingSlash(path_utf8), true, "path", "proc_dir");
    const std::string prefix = Prefix(path_utf8, relative);

    fs::path source_dir = extract_dir, target_dir = base_dir;
    if (!relative.empty()) {
        source_dir /= platform::NarrowToPath(relative);
        target_dir /= platform::NarrowToPath(relative);
    }
    // Fixed order: replacements, additions, then new subdirectories, whose
    // files a later `dir` lists.
    dir < XmlIfElement("modify")[XmlIfKey("digest")][XmlIfKey("name")] >
        boost::bind(steps.modify, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
    dir < XmlIfElement("add")[XmlIfKey("name")] >
        boost::bind(steps.add, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
    dir < XmlIfElement("mkdir")[XmlIfKey("name")] >
        boost::bind(steps.mkdir, boost::cref(source_dir), boost::cref(target_dir), boost::cref(prefix), _1);
}

void proc_dir(const StageDir& stage_dir, const fs::path& extract_dir, const fs::path& base_dir,
              const XmlElementPtr& dir)
{
    walk_dir(extract_dir, base_dir, dir,
             DirSteps{boost::bind(&modify_file, boost::cref(stage_dir), _1, _2, _3, _4),
                      boost::bind(&add_file, boost::cref(stage_dir), _1, _2, _3, _4), &make_directory});
}

namespace {
// Puts the extracted file in place whole, with its creation and modification
// times, so that the updated tree is the release tree, added files included.
// It passes through the package's own temporary file in the update
// directory: no name beside the target is ever made or removed.
void PlaceFile(const StageDir& stage_dir, const fs::path& source, const fs::path& target)
{
    // A link planted in the extraction directory is never placed.
    if (fs::is_symlink(fs::symlink_status(source))) {
        const std::string text = "extracted file \"" + platform::PathToNarrow(source) + "\" is a link";
        KW_FAIL(text.c_str(), "PlaceFile");
    }
    CopyFileAtomically(source, target, stage_dir.Temporary(),
                       boost::bind(&StageDir::CopyFsAttributes, boost::cref(source), _1));
}
} // namespace

EntryPlan plan_modify(const StageDir& stage_dir, const fs::path& source_dir, const fs::path& target_dir,
                      const std::string& prefix, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool has_name = false, has_digest = false;
    const std::string name_utf8 = AttributeText(element, "name", has_name);
    plan.expected = AttributeText(element, "digest", has_digest);
    if (!has_name || !has_digest) KW_FAIL("has not name and/or digest attribute(?)", "modify_file");
    plan.name = NarrowName(name_utf8, "name", "modify_file");
    const fs::path name = platform::NarrowToPath(plan.name);

    plan.installed = Hash(target_dir / name);
    if (plan.installed == plan.expected) {
        plan.action = EntryPlan::kReplace;
    } else if (Hash(source_dir / name) == plan.installed) {
        plan.action = EntryPlan::kAlreadyNew;
    } else {
        // Neither version: only a backup of the old one, taken by an
        // interrupted run, allows copying again.
        const fs::path backup = platform::NarrowToPath(StageDir::GetBackupPath(stage_dir, prefix, plan.name));
        const bool backed_up = fs::is_regular_file(backup) && Hash(backup) == plan.expected;
        plan.action = backed_up ? EntryPlan::kReplaceAgain : EntryPlan::kRefuse;
    }
    return plan;
}

void modify_file(const StageDir& stage_dir, const fs::path& source_dir, const fs::path& target_dir,
                 const std::string& prefix, const XmlElementPtr& element)
{
    const EntryPlan plan = plan_modify(stage_dir, source_dir, target_dir, prefix, element);
    switch (plan.action) {
    case EntryPlan::kReplace:
        StageDir::BackupFile(plan.name, stage_dir, target_dir, prefix);
        break;
    case EntryPlan::kAlreadyNew:
        Say(boost::format(" skip file: %s%s") % prefix % plan.name);
        return;
    case EntryPlan::kReplaceAgain:
        break;
    default:
        KW_FAIL("unmatch file!", "modify_file");
    }
    Say(boost::format(" copy file: %s%s") % prefix % plan.name);
    const fs::path name = platform::NarrowToPath(plan.name);
    PlaceFile(stage_dir, source_dir / name, target_dir / name);
}

EntryPlan plan_add(const fs::path& target_dir, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?)", "add_file");
    plan.name = NarrowName(name_utf8, "name", "add_file");
    const bool exists = fs::exists(fs::symlink_status(target_dir / platform::NarrowToPath(plan.name)));
    plan.action = exists ? EntryPlan::kSkip : EntryPlan::kAdd;
    return plan;
}

void add_file(const StageDir& stage_dir, const fs::path& source_dir, const fs::path& target_dir,
              const std::string& prefix, const XmlElementPtr& element)
{
    const EntryPlan plan = plan_add(target_dir, element);
    if (plan.action == EntryPlan::kSkip) {
        Say(boost::format(" skip file: %s%s") % prefix % plan.name);
        return;
    }
    Say(boost::format(" copy file: %s%s") % prefix % plan.name);
    const fs::path name = platform::NarrowToPath(plan.name);
    PlaceFile(stage_dir, source_dir / name, target_dir / name);
}

EntryPlan plan_directory(const fs::path& target_dir, const XmlElementPtr& element)
{
    EntryPlan plan;
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?) for <mkdir>", "make_directory");
    plan.name = NarrowName(name_utf8, "name", "make_directory");

    const fs::file_status status = fs::status(target_dir / platform::NarrowToPath(plan.name));
    plan.action = fs::is_directory(status) ? EntryPlan::kDirectoryExists
                  : fs::exists(status)     ? EntryPlan::kRefuse
                                           : EntryPlan::kCreateDirectory;
    return plan;
}

void make_directory(const fs::path& /*source_dir*/, const fs::path& target_dir, const std::string& prefix,
                    const XmlElementPtr& element)
{
    const EntryPlan plan = plan_directory(target_dir, element);
    if (plan.action == EntryPlan::kDirectoryExists) {
        Say(boost::format(" skip directory: %s%s") % prefix % plan.name);
        return;
    }
    if (plan.action == EntryPlan::kRefuse) {
        Say(boost::format(" not a directory: %s%s") % prefix % plan.name);
        KW_FAIL("not a directory for <mkdir>", "make_directory");
    }
    Say(boost::format(" create directory: %s%s") % prefix % plan.name);
    fs::create_directories(target_dir / platform::NarrowToPath(plan.name));
}

void post_process(const StageDir& stage_dir, const fs::path& extract_dir, const std::string& stem)
{
    try {
        // The stage record goes first: a clean-up interrupted after it starts
        // the update again from the package, and every step then finds its
        // work done, whereas one interrupted with stage 4 still recorded
        // would stop at "unknown stage".
        StageDir::RemoveStage(stage_dir.UpdateDir(), stem);
        fs::remove(StageDir::TemporaryPackage(extract_dir));
        fs::remove_all(extract_dir);
        fs::remove(stage_dir.Temporary()); // left by an interrupted placement
        StageDir::RemoveUpdateDirIfEmpty(stage_dir.UpdateDir());
        StageDir::RemoveBackup(stage_dir);
    } catch (const kw::ModuleError& e) {
        ReportCleanupError(platform::NarrowToConsole(e.Message()));
        throw;
    } catch (const std::exception& e) {
        ReportCleanupError(platform::NativeToConsole(e.what())); // native, as file-system errors are
        throw;
    }
}
