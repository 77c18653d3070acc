// The small file operations the expansion and the script share: one
// directory made, hidden working directories, and file times carried over.
// Failures raise KWUpdaterCommonError with the labels the console shows.
#pragma once

#include "Env.h"

namespace kw {
namespace updater {

// Creates one directory (no parents); fails when it exists.
void CreateFsDirectory(Env& env, const Path& path);
// Creates a working directory with the hidden flag as its whole attribute
// set; its failure to hide is raised under `label`.
void CreateHiddenDirectory(Env& env, const Path& dir, const char* label);
// Copies the creation and last-write times of a file (not a directory).
void CopyFsAttributes(Env& env, const Path& source, const Path& target);
void SetFsAttributes(Env& env, const Path& target, const FILETIME& created, const FILETIME& modified);

} // namespace updater
} // namespace kw
