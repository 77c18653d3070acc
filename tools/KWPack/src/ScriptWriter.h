// script: the update directory for a pair of trees, that is `update.xml`
// plus the new and changed files at the places the updater takes them from.
#pragma once

#include "TreeCompare.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kwpack {

constexpr char kScriptName[] = "update.xml";

struct ScriptOptions {
    Path old_dir;
    Path new_dir;
    Path out_dir;
    std::string from;
    std::string to;
    // Installed files whose OLD digest proves the version; empty: every
    // modified file.
    std::vector<std::string> checks;
    bool force = false;
    // Creation times read from the disk rather than the modification times.
    bool creation_times = false;
    // The time of what KWPack itself makes (the script), in seconds since
    // 1970 (SOURCE_DATE_EPOCH); when absent, the newest modification time in
    // the new tree.
    boost::optional<std::int64_t> source_date;
};

struct ScriptSummary {
    std::size_t modified = 0;
    std::size_t added = 0;
    std::size_t created = 0;
    std::vector<std::string> removed;  // only in OLD, left in place
};

// One version-check digest: installed file (relative, '/'-separated) and
// the SHA-256 text it must have.
struct VersionCheck {
    std::string file;
    std::string digest;
};

// Writes the script text: the root element with `from` and `to`, a
// `version_check` with the digests (when there are any), then one `dir`
// element per changed directory with its `modify`, `add` and `mkdir`
// elements. Two-blank indentation, names in UTF-8.
void WriteScriptXml(const std::string& from, const std::string& to, const std::vector<VersionCheck>& checks,
                    const TreeChanges& changes, std::ostream& out);

// Compares the trees and writes OUT_DIR as a whole (it appears only when
// complete). Refuses an existing OUT_DIR without `force`.
ScriptSummary WriteUpdateDirectory(Env& env, const ScriptOptions& options);

} // namespace kwpack
