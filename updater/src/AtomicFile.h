// Whole-file placement that an interruption cannot leave half done, for the
// updater and KWPack alike: the content is written under a temporary name on
// the target's file system, flushed, renamed over the target, and the
// target's directory flushed, so that the rename lasts too.
#pragma once

#include "Env.h"

#include <boost/function.hpp>

#include <cstddef>
#include <memory>

namespace kw {
namespace updater {

class AtomicFile {
public:
    // Creates `temporary` as a new file (it must not exist: a stale one of
    // the caller's own is removed by the caller, so that nobody else's file
    // is ever lost).
    AtomicFile(Env& env, const Path& target, const Path& temporary, bool owner_only = false);
    // Without Commit, the temporary file is removed and the target untouched.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Append(const void* data, std::size_t size);
    // Flushes the content and places it under the target's name: over an
    // existing target only with `replace` (else the error is file_exists).
    // Returns false when the file is placed but its directory could not be
    // flushed: the rename stands, though a power cut may still undo it.
    bool Commit(bool replace = true);

private:
    Env& env_;
    Path target_;
    Path temporary_;
    std::unique_ptr<WritableFile> file_;
    bool committed_ = false;
};

// Writes `size` bytes as the whole content of `target` through `temporary`
// (a stale one is removed first). Returns as AtomicFile::Commit does.
bool WriteFileAtomically(Env& env, const Path& target, const Path& temporary, const void* data, std::size_t size);

// Makes `target` (which must not exist) a second name of `source`'s content:
// a hard link where the file system allows one, else a copy. Extracted and
// replaced files never change in place afterwards (they are replaced by
// renames and removed by unlinking), so sharing their content is safe and
// spares copying every new and every backed-up file. Returns true when it
// copied.
bool LinkOrCopyFile(Env& env, const Path& source, const Path& target);

// A fresh name beside `target` that says what it is: "<target>.kwtmp-XXXXXXXX".
Path FreshSiblingName(const Path& target);

// Puts `source`'s content over `target` through `temporary` (a stale one is
// removed first), by LinkOrCopyFile, or by a copy of its own when the placed
// file takes the read-only attribute. Where the target's folder lies on
// another volume, the content goes through a fresh name beside the target.
// `before_rename`, when set, runs on the file about to be renamed (to give it
// the source's times, for example). The placed file is on stable storage
// once its file system is flushed, or at once where the system has no such
// flush.
void CopyFileAtomically(Env& env, const Path& source, const Path& target, const Path& temporary,
                        const boost::function<void(const Path&)>& before_rename = boost::function<void(const Path&)>(),
                        bool read_only = false);

} // namespace updater
} // namespace kw
