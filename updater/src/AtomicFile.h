// Whole-file replacement that an interruption cannot leave half done: the
// data goes to a temporary file in the updater's own working directory (on
// the installation's file system), which is then renamed over the target.
// The temporary name is the updater's alone, so a stale one from an earlier
// interruption is replaced, and it is removed again when writing it fails.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/function.hpp>

#include <cstddef>

// Writes `size` bytes as the whole content of `target` through `temporary`,
// flushed before the rename (the caller flushes the target's directory to
// make the rename last). Throws std::runtime_error naming the file and the
// cause, or a boost::filesystem exception.
void WriteFileAtomically(const boost::filesystem::path& target, const boost::filesystem::path& temporary,
                         const void* data, std::size_t size);

// Makes `target` (which must not exist) a second name of `source`'s content:
// a hard link where the file system allows one, else a copy. Extracted and
// replaced files never change in place afterwards (they are replaced by
// renames and removed by unlinking), so sharing their content is safe and
// spares copying every new and every backed-up file. Returns true when it
// copied.
bool LinkOrCopyFile(const boost::filesystem::path& source, const boost::filesystem::path& target);

// Puts `source`'s content over `target` through `temporary`, by
// LinkOrCopyFile. `before_rename`, when set, runs on the temporary file (to
// give it the source's times, for example). The placed file is on stable
// storage once its file system is flushed (platform::FlushFileSystem), or at
// once where the system has no such flush.
// File-system failures leave as boost::filesystem exceptions.
void CopyFileAtomically(const boost::filesystem::path& source, const boost::filesystem::path& target,
                        const boost::filesystem::path& temporary,
                        const boost::function<void(const boost::filesystem::path&)>& before_rename =
                            boost::function<void(const boost::filesystem::path&)>());
