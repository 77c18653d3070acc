// Stage 2's writing side: the archive's records written out as directories
// and files in the extraction directory as they arrive, each with the times
// its record holds.
#pragma once

#include "Env.h"
#include "UpdateListener.h"

namespace kw {
namespace archive {
class Archive;
}

namespace updater {

// Stage 2: decompresses the temporary package file and expands its archive.
void expand(const Context& context, const Path& update_dir, const Path& extract_dir);

// Writes a loaded archive's "/" directory into the extraction directory as
// stage 2 writes the records of a stream.
void construct(Env& env, kw::archive::Archive& archive, const Path& extract_dir);

} // namespace updater
} // namespace kw
