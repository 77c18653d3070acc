// inspect: verifies a package with the updater's own reading code (outer
// header, key block, digest, inner header, archive, expansion) and prints its
// tree with sizes and times, and its script.
#pragma once

#include <boost/filesystem/path.hpp>

#include <ostream>

namespace kwpack {

// Raises the updater's error (or PackError) for a package the updater would
// refuse; writes the report to `out` otherwise.
void InspectPackage(const boost::filesystem::path& package, const boost::filesystem::path& key_file, std::ostream& out);

} // namespace kwpack
