// The backups of replaced files: backup directory / from version / relative
// directory / name, below the hidden backup directory. Every backup of one
// update lies below its from version, so the clean-up takes only its own.
#pragma once

#include "Env.h"

#include <string>

namespace kw {
namespace updater {

class Backups {
public:
    Backups(Env& env, const Path& backup_dir) : env_(env), backup_dir_(backup_dir) {}

    // The version being updated from, in narrow text.
    const std::string& From() const { return from_; }
    void SetFrom(const std::string& from) { from_ = from; }

    // Copies the installed file `installed` to
    // backup/<from>/relative_dir/file_name.
    void BackupFile(const Path& installed, const std::string& relative_dir, const std::string& file_name) const;
    // backup/<from>/relative_dir (and /file_name), as narrow text; an empty
    // part adds nothing.
    std::string GetBackupPath(const std::string& relative_dir, const std::string& file_name = std::string()) const;
    // Removes this update's backups, and the backup directory when no other
    // update's are left; an update that backed up nothing has nothing to do.
    void RemoveBackup() const;

private:
    Env& env_;
    Path backup_dir_;
    std::string from_;
};

} // namespace updater
} // namespace kw
