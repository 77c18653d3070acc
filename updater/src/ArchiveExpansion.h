// Stage 2's writing side: the decompressed archive written out as
// directories and files in the extraction directory, each with the times its
// node records.
#pragma once

#include "UpdateListener.h"
#include "Env.h"

#include <boost/shared_ptr.hpp>

namespace kw {
namespace archive {
class Archive;
class Directory;
class File;
} // namespace archive

namespace updater {

// Stage 2: decompresses the temporary package file and expands its archive.
void expand(const Context& context, const Path& update_dir, const Path& extract_dir);

// Writes the archive's "/" directory into the extraction directory.
void construct(Env& env, kw::archive::Archive& archive, const Path& extract_dir);

// Writes every child of `directory` below `directory_path`, depth first in
// name order; false only for an empty node pointer.
bool construct_tree(Env& env, const Path& directory_path, const boost::shared_ptr<kw::archive::Directory>& directory);

// Writes one file's content as a new file: whatever stands at the name (a
// stale file, a link) is removed first and never written through.
void construct_file(Env& env, const Path& path, const boost::shared_ptr<kw::archive::File>& file);

} // namespace updater
} // namespace kw
