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

// A name of one entry, converted and checked as the file system will see it
// (a character such as U+00A5 becomes the byte 0x5C, a backslash, in CP932).
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

// Messages and backups name a file by its directory's prefix and its name.
std::string Prefix(const std::string& path_text)
{
    return path_text.empty() ? std::string() : path_text + "/";
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

void ReportCleanupError(const char* message)
{
    std::cerr << boost::format("Error: %s") % platform::NarrowToConsole(message) << std::endl;
}

} // namespace

void replace(const fs::path& stem, const fs::path& base_dir, StageDir& stage_dir, int start_stage,
             const fs::path& extract_dir)
{
    static const char kScript[] = "update.xml";
    std::ifstream in((extract_dir / kScript).c_str(), std::ios::binary);
    if (!in) KW_FAIL("cannot open file", "replace");

    kw::xml::XmlDocument document;
    kw::xml::XmlReader reader;
    reader.SetFileName(kScript);
    const std::streamoff size = StreamLength(in);
    if (size < 0 || !in) KW_FAIL("failed to read from xml file", "replace");

    reader.Prepare(document);
    char buffer[1024];
    for (std::streamoff done = 0; done < size;) {
        in.read(buffer, std::min<std::streamoff>(sizeof buffer, size - done));
        const std::streamsize got = in.gcount();
        if (got <= 0) KW_FAIL("failed to read from xml file", "replace");
        reader << kw::xml::XmlBuffer{buffer, static_cast<std::uint32_t>(got)};
        done += got;
    }
    reader.Finish();
    in.close();
    document.Optimize();

    replace_files(document.GetRootElement(), stage_dir, stem, start_stage, extract_dir, base_dir);
    // Stage 4 is recorded next and the clean-up then deletes the backups: the
    // new files must be on stable storage first.
    platform::FlushFileSystem(base_dir);
}

void replace_files(const XmlElementPtr& root, StageDir& stage_dir, const fs::path& stem, int stage,
                   const fs::path& extract_dir, const fs::path& base_dir)
{
    bool has_from = false, has_to = false;
    const std::string from_utf8 = root ? AttributeText(root, "from", has_from) : std::string();
    const std::string to_utf8 = root ? AttributeText(root, "to", has_to) : std::string();
    if (!has_from || !has_to) KW_FAIL("cannot get version from xml", "replace_files");
    // The version names the backup directory, so it must be one safe name.
    const std::string from = NarrowName(from_utf8, "from version", "replace_files");
    const std::string to = ToNarrow(to_utf8);

    stage_dir.SetBackupSubDir(from);
    if (stage == 3) {
        root < XmlIfElement("version_check") < XmlIfElement("digest")[XmlIfKey("file")] >
            boost::bind(&check_version_tag, boost::cref(stage_dir), boost::cref(base_dir), boost::cref(extract_dir), _1);
        StageDir::FinishStage(platform::PathToNarrow(stem), stage_dir, 3);
        StageDir::BeginStage(4);
    }
    Say(boost::format(" begin update: ver%s => ver%s") % from % to);
    root < XmlIfElement("dir")[XmlIfKey("path")] >
        boost::bind(&proc_dir, boost::cref(stage_dir), boost::cref(extract_dir), boost::cref(base_dir), _1);
}

void check_version_tag(const StageDir& stage_dir, const fs::path& base_dir, const fs::path& extract_dir,
                       const XmlElementPtr& digest)
{
    bool present = false;
    const std::string file = NarrowRelativePath(AttributeText(digest, "file", present), false, "file",
                                                "check_version_tag");
    const std::string expected = ElementText(digest);

    const std::string installed = Hash(base_dir / platform::NarrowToPath(file));
    if (installed == expected) return;
    // Already replaced by an earlier run: its backup proves the old version.
    const fs::path backup = platform::NarrowToPath(StageDir::GetBackupPath(stage_dir, file));
    if (fs::is_regular_file(backup) && Hash(backup) == expected) return;
    // A clean-up interrupted after the stage file was removed starts the
    // update again with the backups gone: the file then already equals the
    // one the package brings, which the script's own copy step skips.
    const fs::path packaged = extract_dir / platform::NarrowToPath(file);
    if (!fs::is_regular_file(packaged) || Hash(packaged) != installed) KW_FAIL("version unmatched!", "check_version_tag");
}

void proc_dir(const StageDir& stage_dir, const fs::path& extract_dir, const fs::path& base_dir,
              const XmlElementPtr& dir)
{
    bool present = false;
    const std::string path_utf8 = AttributeText(dir, "path", present);
    if (!present) KW_FAIL("has not path attribute(?)", "proc_dir");
    const std::string path_text = NarrowRelativePath(path_utf8, true, "path", "proc_dir");

    fs::path source_dir = extract_dir, target_dir = base_dir;
    if (!path_text.empty()) {
        const fs::path relative = platform::NarrowToPath(path_text);
        source_dir /= relative;
        target_dir /= relative;
    }
    // Fixed order: replacements, additions, then new subdirectories, whose
    // files a later `dir` lists.
    dir < XmlIfElement("modify")[XmlIfKey("digest")][XmlIfKey("name")] >
        boost::bind(&modify_file, boost::cref(stage_dir), boost::cref(source_dir), boost::cref(target_dir),
                    boost::cref(path_text), _1);
    dir < XmlIfElement("add")[XmlIfKey("name")] >
        boost::bind(&add_file, boost::cref(stage_dir), boost::cref(source_dir), boost::cref(target_dir),
                    boost::cref(path_text), _1);
    dir < XmlIfElement("mkdir")[XmlIfKey("name")] >
        boost::bind(&make_directory, boost::cref(source_dir), boost::cref(target_dir), boost::cref(path_text), _1);
}

namespace {
// Puts the extracted file in place whole, with its creation and modification
// times, so that the updated tree is the release tree, added files included.
// It passes through the package's own temporary file in the update
// directory: no name beside the target is ever made or removed.
void PlaceFile(const StageDir& stage_dir, const fs::path& source, const fs::path& target)
{
    CopyFileAtomically(source, target, stage_dir.Temporary(),
                       boost::bind(&StageDir::CopyFsAttributes, boost::cref(source), _1));
}
} // namespace

void modify_file(const StageDir& stage_dir, const fs::path& source_dir, const fs::path& target_dir,
                 const std::string& path_text, const XmlElementPtr& element)
{
    bool has_name = false, has_digest = false;
    const std::string name_utf8 = AttributeText(element, "name", has_name);
    const std::string old_digest = AttributeText(element, "digest", has_digest);
    if (!has_name || !has_digest) KW_FAIL("has not name and/or digest attribute(?)", "modify_file");
    const std::string name = NarrowName(name_utf8, "name", "modify_file");
    const std::string prefix = Prefix(path_text);
    const fs::path source = source_dir / platform::NarrowToPath(name);
    const fs::path target = target_dir / platform::NarrowToPath(name);

    const std::string installed = Hash(target);
    if (installed == old_digest) {
        StageDir::BackupFile(name, stage_dir, target_dir, path_text);
    } else if (Hash(source) == installed) {
        Say(boost::format(" skip file: %s%s") % prefix % name);
        return;
    } else {
        // Neither version: only a backup of the old one, taken by an
        // interrupted run, allows copying again.
        const fs::path backup = platform::NarrowToPath(StageDir::GetBackupPath(stage_dir, path_text, name));
        if (!fs::is_regular_file(backup) || Hash(backup) != old_digest) KW_FAIL("unmatch file!", "modify_file");
    }
    Say(boost::format(" copy file: %s%s") % prefix % name);
    PlaceFile(stage_dir, source, target);
}

void add_file(const StageDir& stage_dir, const fs::path& source_dir, const fs::path& target_dir,
              const std::string& path_text, const XmlElementPtr& element)
{
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?)", "add_file");
    const std::string name = NarrowName(name_utf8, "name", "add_file");
    const std::string prefix = Prefix(path_text);
    const fs::path target = target_dir / platform::NarrowToPath(name);

    if (fs::exists(fs::symlink_status(target))) {
        Say(boost::format(" skip file: %s%s") % prefix % name);
        return;
    }
    Say(boost::format(" copy file: %s%s") % prefix % name);
    PlaceFile(stage_dir, source_dir / platform::NarrowToPath(name), target);
}

void make_directory(const fs::path& /*source_dir*/, const fs::path& target_dir, const std::string& path_text,
                    const XmlElementPtr& element)
{
    bool present = false;
    const std::string name_utf8 = AttributeText(element, "name", present);
    if (!present) KW_FAIL("has not name attribute(?) for <mkdir>", "make_directory");
    const std::string name = NarrowName(name_utf8, "name", "make_directory");
    const std::string prefix = Prefix(path_text);
    const fs::path target = target_dir / platform::NarrowToPath(name);

    const fs::file_status status = fs::status(target);
    if (fs::is_directory(status)) {
        Say(boost::format(" skip directory: %s%s") % prefix % name);
        return;
    }
    if (fs::exists(status)) {
        Say(boost::format(" not a directory: %s%s") % prefix % name);
        KW_FAIL("not a directory for <mkdir>", "make_directory");
    }
    Say(boost::format(" create directory: %s%s") % prefix % name);
    fs::create_directories(target);
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
        ReportCleanupError(e.Message());
        throw;
    } catch (const std::exception& e) {
        ReportCleanupError(e.what());
        throw;
    }
}
