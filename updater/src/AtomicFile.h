// Whole-file replacement that an interruption cannot leave half done: the
// data goes to a sibling ending in ".kwtmp", which is then renamed over the
// target. A stale ".kwtmp" from an earlier interruption is overwritten, and
// the sibling is removed again when writing it fails.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/function.hpp>

#include <cstddef>

// The temporary sibling used for `target`.
boost::filesystem::path TemporarySibling(const boost::filesystem::path& target);

// Writes `size` bytes as the whole content of `target`. Throws
// std::runtime_error naming the file and the cause.
void WriteFileAtomically(const boost::filesystem::path& target, const void* data, std::size_t size);

// Copies `source` over `target`. `before_rename`, when set, runs on the
// finished temporary copy (to give it the source's times, for example).
// File-system failures leave as boost::filesystem exceptions.
void CopyFileAtomically(const boost::filesystem::path& source, const boost::filesystem::path& target,
                        const boost::function<void(const boost::filesystem::path&)>& before_rename =
                            boost::function<void(const boost::filesystem::path&)>());
