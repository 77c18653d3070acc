#include "Backups.h"

#include "AtomicFile.h"
#include "FileAttributes.h"
#include "KWUpdaterError.h"
#include "NativeText.h"

namespace kw {
namespace updater {

void Backups::BackupFile(const Path& source, const std::string& relative_dir, const std::string& file_name) const
{
    if (!Exists(env_, backup_dir_))
        CreateHiddenDirectory(env_, backup_dir_, "StageDir::BackupFile");
    else if (!IsDirectory(env_, backup_dir_))
        KW_FAIL(".backup is not a directory", "StageDir::BackupFile");
    const Path target_dir = NarrowToPath(GetBackupPath(relative_dir));
    CreateDirectories(env_, target_dir);
    // The installed file is replaced by a rename, never changed in place, so
    // the backup may share its content. An installed link is copied instead:
    // a link to it would hold none of the old content.
    const Path target = target_dir / NarrowToPath(file_name);
    env_.Remove(target);
    if (env_.Status(source, false).kind == FileKind::kLink)
        env_.CopyFileContents(source, target);
    else
        LinkOrCopyFile(env_, source, target);
}

std::string Backups::GetBackupPath(const std::string& relative_dir, const std::string& file_name) const
{
    std::string path = PathToNarrow(backup_dir_);
    for (const std::string* part : {&from_, &relative_dir, &file_name}) {
        if (part->empty()) continue;
        if (!path.empty() && path.back() != '/' && (*part)[0] != '/') path += '/';
        path += *part;
    }
    return path;
}

void Backups::RemoveBackup() const
{
    if (!Exists(env_, backup_dir_)) return;
    if (!from_.empty()) RemoveAll(env_, backup_dir_ / NarrowToPath(from_));
    if (IsEmptyDirectory(env_, backup_dir_)) env_.Remove(backup_dir_);
}

} // namespace updater
} // namespace kw
