// Walks a loaded archive the way a consumer reads it (names, types, times,
// contents) and checks that every node is what its type says. The walk keeps
// its own stack: a stream may nest directories far deeper than the call
// stack could follow.
#pragma once

#include "FuzzCheck.h"

#include <kw/archive/Archive.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kwfuzz {

struct ArchiveSummary {
    bool has_top = false; // the root holds "/" as a directory
    std::uint64_t nodes = 0;
    std::uint64_t bytes = 0; // file contents, all files together
};

// Calls `on_name` (when given) with every name below the top directory.
ArchiveSummary WalkArchive(kw::archive::Archive& archive,
                           const std::function<void(const std::string&)>& on_name = nullptr);

} // namespace kwfuzz
