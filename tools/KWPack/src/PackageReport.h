// inspect: verifies a package with the updater's own reading code (outer
// header, key block, digest, inner header, archive and expansion) and prints
// its tree with sizes and times, and its script, as text or as one JSON
// document.
#pragma once

#include "Env.h"

#include <nlohmann/json_fwd.hpp>

#include <ostream>

namespace kwpack {

class VerifiedPackage;

// Raises the updater's error (or PackError) for a package the updater would
// refuse; writes the report to `out` otherwise.
void InspectPackage(kw::updater::Env& env, const kw::updater::Path& package, const kw::updater::Path& key_file,
                    bool json, std::ostream& out);

// The first facts of every report on a package, as a line and as JSON.
std::string PackageLine(const kw::updater::Path& package, const VerifiedPackage& verified);
nlohmann::json PackageJson(const kw::updater::Path& package, const VerifiedPackage& verified);

} // namespace kwpack
