// The updater's resumable state on disk: the hidden update directory with one
// stage file per package, the hidden backup directory, and the small file
// operations the expansion and script steps share.
#pragma once

#include <kw/FileTime.h>

#include <boost/filesystem/path.hpp>

#include <string>

namespace kw {
namespace archive {
class Node;
}
} // namespace kw

class StageDir {
public:
    static constexpr int kTotalStages = 4;

    // `stem` names the package's working files in the update directory.
    StageDir(const boost::filesystem::path& update_dir, const boost::filesystem::path& backup_dir,
             const std::string& stem = std::string());

    const boost::filesystem::path& UpdateDir() const { return update_dir_; }
    // The package's one temporary file, through which every file is placed.
    const boost::filesystem::path& Temporary() const { return temporary_; }
    const boost::filesystem::path& BackupDir() const { return backup_dir_; }
    // The version being updated from; every backup of one update lies below it.
    const std::string& BackupSubDir() const { return backup_sub_dir_; }
    void SetBackupSubDir(const std::string& name) { backup_sub_dir_ = name; }

    // Last completed stage of the package `stem`; creates the hidden update
    // directory (returning 0) when it is missing.
    static int CheckStage(const boost::filesystem::path& update_dir, const std::string& stem);
    // The stored stage; a missing file is created holding 0, written whole
    // and durably as FinishStage writes it.
    static int ReadStage(const boost::filesystem::path& stage_file);
    // Records `stage` as completed (written whole and durably through the
    // temporary file) and announces it.
    static void FinishStage(const std::string& stem, const StageDir& dir, int stage);
    static void BeginStage(int stage);

    // Copies source_dir/file_name to backup/<sub>/relative_dir/file_name.
    static void BackupFile(const std::string& file_name, const StageDir& dir,
                           const boost::filesystem::path& source_dir, const std::string& relative_dir);
    // backup/<sub>/relative_dir (and /file_name), as narrow text.
    static std::string GetBackupPath(const StageDir& dir, const std::string& relative_dir);
    static std::string GetBackupPath(const StageDir& dir, const std::string& relative_dir, const std::string& file_name);

    // Clean-up after the last stage.
    static void RemoveStage(const boost::filesystem::path& update_dir, const std::string& stem);
    // The update directory goes when no package has working files left in it.
    static void RemoveUpdateDirIfEmpty(const boost::filesystem::path& update_dir);
    static void RemoveBackup(const StageDir& dir);

    // Removes what stands at a working file's name unless it is a real
    // directory: a stale file may share its content with an installed file
    // (placement links it), and a planted link may point anywhere. A failure
    // leaves as the file system's error, which names the file.
    static void RemoveUnlessDirectory(const boost::filesystem::path& path);

    static void CreateFsDirectory(const boost::filesystem::path& path);
    static void CopyFsAttributes(const boost::filesystem::path& source, const boost::filesystem::path& target);
    static void SetFsAttributes(const boost::filesystem::path& target, const FILETIME& created, const FILETIME& modified);
    static void SetFsAttributes(const boost::filesystem::path& target, const kw::archive::Node& node);

    // Puts what a stage wrote (a file, or a tree) on stable storage before
    // the stage is recorded: the clean-up deletes the backups, so nothing may
    // depend on data still in memory.
    static void FlushWork(const boost::filesystem::path& written);

    // The package's working files: update directory / stem followed by
    // ".stage", ".pkg.bz2" or ".kwtmp". A name too long for the file system
    // becomes "~" and a digest of the stem instead, so every package name works.
    static boost::filesystem::path StageFile(const boost::filesystem::path& update_dir, const std::string& stem);
    static boost::filesystem::path TemporaryPackage(const boost::filesystem::path& extract_dir);
    static boost::filesystem::path TemporaryFile(const boost::filesystem::path& stage_file);

private:
    boost::filesystem::path update_dir_;
    boost::filesystem::path backup_dir_;
    std::string backup_sub_dir_;
    boost::filesystem::path temporary_;
};
