// Whole-file replacement that an interruption cannot leave half done: the
// data goes to a sibling ending in ".kwtmp", which is then renamed over the
// target. A stale ".kwtmp" from an earlier interruption is overwritten.
#pragma once

#include <boost/filesystem/path.hpp>

#include <cstddef>

// The temporary sibling used for `target`.
boost::filesystem::path TemporarySibling(const boost::filesystem::path& target);

// Writes `size` bytes as the whole content of `target`. Throws
// std::runtime_error naming the file and the cause.
void WriteFileAtomically(const boost::filesystem::path& target, const void* data, std::size_t size);
