// The archive stream writer: a scanned tree and its files on disk become
// the byte stream that the archive loader reads (an 8-byte prologue, then
// node records with their entries or contents, depth first). The stream is
// produced piece by piece into a sink; only one buffer is held.
#pragma once

#include "SourceTree.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kwpack {

using ByteSink = std::function<void(const unsigned char* data, std::size_t size)>;

// The stream's length in bytes, prologue included.
std::uint64_t ArchiveStreamSize(const TreeEntry& root);

// Writes the stream for `root`, scanned from `directory`: the 8-byte
// `prologue`, then the records. Contents are read from disk in chunks; a file
// whose length differs from the scan, or that cannot be read, raises
// PackError. A stream of 4 GiB or more (offsets are 32-bit) is refused
// before anything is written.
void WriteArchiveStream(Env& env, const Path& directory, const TreeEntry& root, const std::string& prologue,
                        const ByteSink& sink);

} // namespace kwpack
