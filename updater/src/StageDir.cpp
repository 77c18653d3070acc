#include "StageDir.h"

#include "AtomicFile.h"
#include "KWUpdaterError.h"
#include "Platform.h"

#include <kw/archive/Node.h>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

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

// Creates a working directory with the hidden flag as its whole attribute set.
void CreateHiddenDirectory(const fs::path& dir, const char* label)
{
    StageDir::CreateFsDirectory(dir);
    if (!platform::SetHiddenOnly(platform::PathToNarrow(dir))) KW_FAIL("cannot set attributes", label);
}

} // namespace

fs::path StageDir::StageFile(const fs::path& update_dir, const std::string& stem)
{
    return update_dir / platform::NarrowToPath(stem + ".stage");
}

fs::path StageDir::TemporaryPackage(const fs::path& extract_dir)
{
    fs::path temporary = extract_dir;
    return temporary += ".pkg.bz2";
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

    std::ofstream out(stage_file.c_str(), std::ios::binary | std::ios::trunc);
    if (!out) KW_FAIL("cannot open stage-file", "StageDir::ReadStage");
    char bytes[4];
    EncodeStage(0, bytes);
    if (!out.write(bytes, sizeof bytes).flush()) KW_FAIL("cannot write stage-file", "StageDir::ReadStage");
    return 0;
}

void StageDir::FinishStage(const std::string& stem, const StageDir& dir, int stage)
{
    char bytes[4];
    EncodeStage(stage, bytes);
    try {
        // Written whole to a sibling and renamed: never a short stage file.
        WriteFileAtomically(StageFile(dir.UpdateDir(), stem), bytes, sizeof bytes);
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
