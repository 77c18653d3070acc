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

// Makes `target` (which must not exist) a second name of `source`'s content:
// a hard link where the file system allows one, else a copy. Extracted and
// replaced files never change in place afterwards (they are replaced by
// renames and removed by unlinking), so sharing their content is safe and
// spares copying every new and every backed-up file.
void LinkOrCopyFile(const boost::filesystem::path& source, const boost::filesystem::path& target);

// Puts `source`'s content over `target` through the temporary sibling, by
// LinkOrCopyFile. `before_rename`, when set, runs on the temporary file (to
// give it the source's times, for example). File-system failures leave as
// boost::filesystem exceptions.
void CopyFileAtomically(const boost::filesystem::path& source, const boost::filesystem::path& target,
                        const boost::function<void(const boost::filesystem::path&)>& before_rename =
                            boost::function<void(const boost::filesystem::path&)>());
