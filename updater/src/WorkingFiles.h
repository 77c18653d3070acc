// The names of a package's working files in the update directory: the stage
// record, the temporary package and the one temporary file through which
// every file is placed. None of them can be a name of the installation's own.
#pragma once

#include "Env.h"

#include <string>

namespace kw {
namespace updater {

// update_dir / stem followed by ".stage". A name too long for the file
// system becomes "~" and a digest of the stem instead, so every package
// name works (likewise below).
Path StageFile(Env& env, const Path& update_dir, const std::string& stem);
// The extraction directory's name followed by ".pkg.bz2", beside it.
Path TemporaryPackage(Env& env, const Path& extract_dir);
// The stage file's name with ".kwtmp" for ".stage": it fits wherever the
// stage file's name does.
Path TemporaryFile(const Path& stage_file);

// Removes what stands at a working file's name unless it is a real
// directory: a stale file may share its content with an installed file
// (placement links it), and a planted link may point anywhere. A failure
// leaves as the file system's error, which names the file.
void RemoveUnlessDirectory(Env& env, const Path& path);

} // namespace updater
} // namespace kw
