#include "StageDir.h"

#include "AtomicFile.h"
#include "KWUpdaterError.h"
#include "Platform.h"

#include <kw/archive/Node.h>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>

namespace fs = boost::filesystem;

namespace {

void EncodeStage(int stage, char bytes[4])
{
    const std::uint32_t value = static_cast<std::uint32_t>(stage);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

int DecodeStage(const char bytes[4])
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return static_cast<int>(value);
}

// update_dir / name followed by `suffix`, or "~", a digest of the name and
// `suffix` when that is longer than the file system allows. The digest is
// FNV-1a over the name's native bytes, so one name always gives one file.
fs::path WorkingFile(const fs::path& update_dir, const fs::path& name, const char* suffix)
{
    fs::path file = name;
    file += suffix;
    // The installation root holds the update directory, which may not exist yet.
    if (file.native().size() <= platform::MaxNameLength(update_dir.parent_path())) return update_dir / file;
    std::uint64_t digest = 14695981039346656037ULL;
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.native().data());
    for (std::size_t i = 0; i < name.native().size() * sizeof(name.native()[0]); ++i)
        digest = (digest ^ bytes[i]) * 1099511628211ULL;
    file = (boost::format("~%016x") % digest).str();
    file += suffix;
    return update_dir / file;
}

// Writes the stage record whole through its temporary file, flushed, and
// flushes its directory. The record stands once renamed; the directory's
// flush makes it last. Should that flush fail, the stage is not failed for
// it: each stage's work was flushed before its record, so a record lost to a
// power cut only repeats work that is safe to repeat.
void WriteRecord(const fs::path& stage_file, int stage)
{
    char bytes[4];
    EncodeStage(stage, bytes);
    WriteFileAtomically(stage_file, StageDir::TemporaryFile(stage_file), bytes, sizeof bytes);
    try {
        platform::FlushDirectory(stage_file.parent_path());
    } catch (const fs::filesystem_error&) {
    }
}

// Creates a working directory with the hidden flag as its whole attribute set.
void CreateHiddenDirectory(const fs::path& dir, const char* label)
{
    StageDir::CreateFsDirectory(dir);
    if (!platform::SetHiddenOnly(platform::PathToNarrow(dir))) KW_FAIL("cannot set attributes", label);
}

} // namespace

StageDir::StageDir(const fs::path& update_dir, const fs::path& backup_dir, const std::string& stem)
    : update_dir_(update_dir), backup_dir_(backup_dir), temporary_(TemporaryFile(StageFile(update_dir, stem)))
{
}

fs::path StageDir::StageFile(const fs::path& update_dir, const std::string& stem)
{
    return WorkingFile(update_dir, platform::NarrowToPath(stem), ".stage");
}

fs::path StageDir::TemporaryPackage(const fs::path& extract_dir)
{
    return WorkingFile(extract_dir.parent_path(), extract_dir.filename(), ".pkg.bz2");
}

fs::path StageDir::TemporaryFile(const fs::path& stage_file)
{
    // ".stage" and ".kwtmp" are equally long: the temporary name fits
    // wherever the stage file's name does.
    fs::path::string_type name = stage_file.filename().native();
    const fs::path::string_type stage_suffix = fs::path(".stage").native();
    const std::size_t kept = name.size() - std::min(name.size(), stage_suffix.size());
    if (name.compare(kept, fs::path::string_type::npos, stage_suffix) == 0) name.erase(kept);
    fs::path temporary = stage_file.parent_path() / name;
    temporary += ".kwtmp";
    return temporary;
}

void StageDir::FlushWork(const fs::path& written)
{
    if (platform::FlushesWholeFileSystem()) {
        platform::FlushFileSystem(written.parent_path());
        return;
    }
    boost::system::error_code missing;
    const fs::file_status status = fs::symlink_status(written, missing);
    if (!fs::exists(status)) return;
    if (fs::is_directory(status)) {
        for (fs::recursive_directory_iterator it(written), end; it != end; ++it) {
            const fs::file_status entry = it->symlink_status();
            if (fs::is_directory(entry))
                platform::FlushDirectory(it->path());
            else if (fs::is_regular_file(entry))
                platform::FlushFile(it->path());
        }
        platform::FlushDirectory(written);
    } else {
        platform::FlushFile(written);
    }
    platform::FlushDirectory(written.parent_path());
}

int StageDir::CheckStage(const fs::path& update_dir, const std::string& stem)
{
    if (fs::exists(update_dir)) {
        if (!fs::is_directory(update_dir)) KW_FAIL(".update is not a directory", "StageDir::CheckStage");
        return ReadStage(StageFile(update_dir, stem));
    }
    CreateHiddenDirectory(update_dir, "StageDir::CheckStage");
    return 0;
}

int StageDir::ReadStage(const fs::path& stage_file)
{
    const fs::file_status status = fs::status(stage_file);
    if (fs::is_regular_file(status)) {
        std::ifstream in(stage_file.c_str(), std::ios::binary);
        if (!in) KW_FAIL("cannot open stage-file", "StageDir::ReadStage");
        char bytes[4];
        if (!in.read(bytes, sizeof bytes)) KW_FAIL("cannot read stage-file", "StageDir::ReadStage");
        return DecodeStage(bytes);
    }
    if (fs::exists(status)) KW_FAIL("stage-file is not a regular file", "StageDir::ReadStage");

    // Never a short stage file, even after a kill or on a full disk.
    try {
        WriteRecord(stage_file, 0);
    } catch (const std::exception&) {
        KW_FAIL("cannot write stage-file", "StageDir::ReadStage");
    }
    return 0;
}

void StageDir::FinishStage(const std::string& stem, const StageDir& dir, int stage)
{
    try {
        WriteRecord(StageFile(dir.UpdateDir(), stem), stage);
    } catch (const std::exception&) {
        KW_FAIL("cannot write to stage-file", "StageDir::FinishStage");
    }
    std::cout << std::endl << boost::format("Stage %d Completed!") % stage << std::endl;
}

void StageDir::BeginStage(int stage)
{
    std::cout << boost::format("Begin Stage %d/%d") % stage % kTotalStages << std::endl;
}

void StageDir::BackupFile(const std::string& file_name, const StageDir& dir, const fs::path& source_dir,
                          const std::string& relative_dir)
{
    const fs::path& backup_dir = dir.BackupDir();
    if (fs::exists(backup_dir)) {
        if (!fs::is_directory(backup_dir)) KW_FAIL(".backup is not a directory", "StageDir::BackupFile");
    } else {
        CreateHiddenDirectory(backup_dir, "StageDir::BackupFile");
    }
    const fs::path target_dir = platform::NarrowToPath(GetBackupPath(dir, relative_dir));
    fs::create_directories(target_dir);
    const fs::path name = platform::NarrowToPath(file_name);
    // The installed file is replaced by a rename, never changed in place, so
    // the backup may share its content. An installed link is copied instead:
    // a link to it would hold none of the old content.
    const fs::path source = source_dir / name, target = target_dir / name;
    fs::remove(target);
    if (fs::is_symlink(fs::symlink_status(source)))
        platform::CopyFileContents(source, target);
    else
        LinkOrCopyFile(source, target);
}

std::string StageDir::GetBackupPath(const StageDir& dir, const std::string& relative_dir)
{
    return GetBackupPath(dir, relative_dir, std::string());
}

std::string StageDir::GetBackupPath(const StageDir& dir, const std::string& relative_dir, const std::string& file_name)
{
    std::string path = platform::PathToNarrow(dir.BackupDir());
    for (const std::string* part : {&dir.BackupSubDir(), &relative_dir, &file_name}) {
        if (part->empty()) continue;
        if (!path.empty() && path.back() != '/' && (*part)[0] != '/') path += '/';
        path += *part;
    }
    return path;
}

void StageDir::RemoveStage(const fs::path& update_dir, const std::string& stem)
{
    fs::remove(StageFile(update_dir, stem));
    // Once the record is gone for good, a later run starts from the package;
    // one that comes back after a power cut would stop at "unknown stage".
    platform::FlushDirectory(update_dir);
    RemoveUpdateDirIfEmpty(update_dir);
}

void StageDir::RemoveUpdateDirIfEmpty(const fs::path& update_dir)
{
    if (fs::is_empty(update_dir)) fs::remove(update_dir);
}

void StageDir::RemoveBackup(const StageDir& dir)
{
    // An update that backed up nothing has no backup directory: nothing to do.
    if (!fs::exists(dir.BackupDir())) return;
    if (!dir.BackupSubDir().empty()) fs::remove_all(dir.BackupDir() / platform::NarrowToPath(dir.BackupSubDir()));
    if (fs::is_empty(dir.BackupDir())) fs::remove(dir.BackupDir());
}

void StageDir::RemoveUnlessDirectory(const fs::path& path)
{
    const fs::file_status status = fs::symlink_status(path);
    if (fs::exists(status) && !fs::is_directory(status)) fs::remove(path);
}

void StageDir::CreateFsDirectory(const fs::path& path)
{
    if (!platform::CreateOneDirectory(platform::PathToNarrow(path)))
        KW_FAIL("cannot create directory", "StageDir::CreateFsDirectory");
}

void StageDir::CopyFsAttributes(const fs::path& source, const fs::path& target)
{
    if (!fs::exists(source)) KW_FAIL("source file does not exit", "StageDir::CopyFsAttributes");
    FILETIME created, modified;
    {
        platform::FileHandle handle(platform::PathToNarrow(source), platform::FileHandle::Read, false);
        if (!handle.IsOpen()) KW_FAIL("cannot get attributes: CreateFile", "StageDir::CopyFsAttributes");
        if (!handle.GetTimes(&created, &modified))
            KW_FAIL("cannot get attributes: GetFileTime", "StageDir::CopyFsAttributes");
    }
    SetFsAttributes(target, created, modified);
}

void StageDir::SetFsAttributes(const fs::path& target, const FILETIME& created, const FILETIME& modified)
{
    if (!fs::exists(target)) KW_FAIL("target does not exist", "FsImpl::SetFsAttributes");
    platform::FileHandle handle(platform::PathToNarrow(target), platform::FileHandle::Write, true);
    if (!handle.IsOpen()) KW_FAIL("cannot set attributes: CreateFile", "FsImpl::SetFsAttributes");
    if (!handle.SetTimes(&created, &modified)) KW_FAIL("cannot set attributes: SetFileTime", "FsImpl::SetFsAttributes");
}

void StageDir::SetFsAttributes(const fs::path& target, const kw::archive::Node& node)
{
    SetFsAttributes(target, node.GetCreated(), node.GetModified());
}
