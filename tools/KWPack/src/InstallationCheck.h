// check: predicts what the updater would do with a package on an
// installation, without writing anything there. The package is verified as
// inspect does; then the updater's own script code plans the version check
// and every entry of stage 4 (replace, already new, add, skip, create
// directory, refuse) on the installation as it stands.
#pragma once

#include "Env.h"

#include <ostream>

namespace kwpack {

// Writes the prediction to `out`, as text or as one JSON document; returns
// whether the update would complete. Raises for a package the updater would
// refuse.
bool CheckInstallation(kw::updater::Env& env, const kw::updater::Path& package, const kw::updater::Path& installation,
                       const kw::updater::Path& key_file, bool json, std::ostream& out);

} // namespace kwpack
