// Stage 2's writing side: an archive tree written into the extraction
// directory. `expand` itself is declared in Stages.h.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

namespace kw {
namespace archive {
class Archive;
class Directory;
class File;
} // namespace archive
} // namespace kw

// Writes the archive's "/" directory into the extraction directory.
void construct(kw::archive::Archive& archive, const boost::filesystem::path& extract_dir);

// Writes every child of `directory` below `directory_path`, depth first in
// name order; false only for an empty node pointer.
bool construct_tree(const boost::filesystem::path& directory_path,
                    const boost::shared_ptr<kw::archive::Directory>& directory);

// Writes one file's content as a new file: whatever stands at the name (a
// stale file, a link) is removed first and never written through.
void construct_file(const boost::filesystem::path& path, const boost::shared_ptr<kw::archive::File>& file);
