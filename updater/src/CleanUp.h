// The clean-up after stage 4: this update's working files, its backups, and
// the update and backup directories when nothing else is left in them.
#pragma once

#include "Backups.h"
#include "UpdateListener.h"
#include "UpdatePaths.h"

namespace kw {
namespace updater {

// Reports its own failure to the listener, then raises it on. Backups that
// do not know their from version yet take it from the extracted script.
void post_process(const Context& context, const UpdatePaths& paths, Backups& backups);

// The clean-up's last step: releases the run's lock on the installation,
// then removes the update directory when nothing is left in it. Reports its
// failure as post_process does.
void remove_update_dir(const Context& context, FileLock& lock, const Path& update_dir);

} // namespace updater
} // namespace kw
