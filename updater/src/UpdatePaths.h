// Every working path of one update, derived from the package path as typed:
// the installation root is the package's directory.
#pragma once

#include "Env.h"

#include <string>

namespace kw {
namespace updater {

struct UpdatePaths {
    UpdatePaths(Env& env, const Path& package);

    Path package;
    Path base_dir;     // the installation root; empty means the current directory
    Path update_dir;   // base/.update
    Path backup_dir;   // base/.backup
    Path key_file;     // base/bin/lmfile
    std::string stem;  // package file name without its last extension, narrow text
    Path extract_dir;  // update_dir/stem
    Path temp_package; // update_dir/stem + ".pkg.bz2" (TemporaryPackage)
    Path stage_file;   // update_dir/stem + ".stage" (StageFile)
    Path temporary;    // update_dir/stem + ".kwtmp": every file is placed through it
};

} // namespace updater
} // namespace kw
