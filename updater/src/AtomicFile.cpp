#include "AtomicFile.h"

#include "HeldFile.h"

#include <boost/filesystem/exception.hpp>

#include <random>
#include <stdexcept>
#include <vector>

namespace kw {
namespace updater {
namespace {

// Renames `temporary` over `target`, trying again while another process
// holds the target; the temporary goes when it cannot be placed. False,
// with the temporary kept, when the target lies on another volume.
bool Place(Env& env, const Path& temporary, const Path& target, bool replace)
{
    boost::system::error_code failed;
    RetryWhileHeld(env, target, Env::Use::kReplace, [&] {
        env.Rename(temporary, target, replace, failed);
        return !failed;
    });
    if (!failed) return true;
    if (failed == boost::system::errc::cross_device_link) return false;
    boost::system::error_code ignored;
    env.Remove(temporary, ignored);
    if (env.IsHeldOpen(target, Env::Use::kReplace)) throw std::runtime_error(HeldText("cannot replace the file", target));
    throw boost::filesystem::filesystem_error("cannot rename", temporary, target, failed);
}

} // namespace

AtomicFile::AtomicFile(Env& env, const Path& target, const Path& temporary, bool owner_only)
    : env_(env), target_(target), temporary_(temporary), file_(env.CreateNewFile(temporary, owner_only))
{
}

AtomicFile::~AtomicFile()
{
    if (committed_) return;
    file_.reset();
    boost::system::error_code ignored;
    env_.Remove(temporary_, ignored);
}

void AtomicFile::Append(const void* data, std::size_t size)
{
    file_->Append(data, size);
}

bool AtomicFile::Commit(bool replace)
{
    file_->Sync();
    file_->Close();
    committed_ = true; // from here on, Place removes the temporary itself
    if (!Place(env_, temporary_, target_, replace)) {
        boost::system::error_code ignored;
        env_.Remove(temporary_, ignored);
        RaiseFileError("cannot place the file", target_,
                       boost::system::errc::make_error_code(boost::system::errc::cross_device_link));
    }
    // Flushes the directory that the rename changed; false when it cannot be.
    try {
        env_.FlushDirectory(target_.parent_path());
        return true;
    } catch (const boost::filesystem::filesystem_error&) {
        return false;
    }
}

bool WriteFileAtomically(Env& env, const Path& target, const Path& temporary, const void* data, std::size_t size)
{
    env.Remove(temporary); // a stale one from an interrupted run
    AtomicFile file(env, target, temporary);
    file.Append(data, size);
    return file.Commit();
}

bool LinkOrCopyFile(Env& env, const Path& source, const Path& target)
{
    boost::system::error_code link_failed;
    env.HardLink(source, target, link_failed);
    if (!link_failed) return false;
    // Only a file system that cannot link these two files falls back to a
    // copy; a full disk or a denied directory is the failure it is.
    namespace errc = boost::system::errc;
    if (link_failed != errc::cross_device_link && link_failed != errc::operation_not_permitted &&
        link_failed != errc::operation_not_supported && link_failed != errc::too_many_links &&
        link_failed != errc::function_not_supported)
        throw boost::filesystem::filesystem_error("cannot link the file", source, target, link_failed);
    env.CopyFileContents(source, target);
    return true;
}

Path FreshSiblingName(const Path& target)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 random{std::random_device{}()};
    std::string suffix = ".kwtmp-";
    for (int i = 0; i < 8; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
    Path name = target;
    return name += suffix;
}

namespace {

// Copies `source` into the new file `target`.
void CopyToNewFile(Env& env, const Path& source, const Path& target)
{
    const std::unique_ptr<SequentialFile> in = env.OpenForReading(source);
    const std::unique_ptr<WritableFile> out = env.CreateNewFile(target);
    std::vector<char> buffer(1 << 20);
    for (std::size_t got; (got = in->Read(buffer.data(), buffer.size())) != 0;) out->Append(buffer.data(), got);
    out->Close();
}

typedef boost::function<void(const Path& file, bool copied)> Prepare;

// A target whose folder lies on another volume than the temporary (a mounted
// folder or a junction): a rename would have to become a copy and a delete,
// so the content is first written beside the target under a fresh name,
// which no file of the user's has, prepared, and renamed there.
void PlaceOnTargetVolume(Env& env, const Path& temporary, const Path& target, const Prepare& prepare)
{
    Path sibling;
    try {
        do sibling = FreshSiblingName(target);
        while (env.Status(sibling, false).Exists());
        CopyToNewFile(env, temporary, sibling);
        prepare(sibling, true);
        if (!Place(env, sibling, target, true))
            RaiseFileError("cannot place the file", target,
                           boost::system::errc::make_error_code(boost::system::errc::cross_device_link));
    } catch (...) {
        boost::system::error_code ignored;
        if (!sibling.empty()) env.Remove(sibling, ignored);
        env.Remove(temporary, ignored);
        throw;
    }
    env.Remove(temporary);
    // The whole-file-system flush before the stage record covers the
    // installation's volume only.
    env.FlushDirectory(target.parent_path());
}

} // namespace

void CopyFileAtomically(Env& env, const Path& source, const Path& target, const Path& temporary,
                        const boost::function<void(const Path&)>& before_rename, bool read_only)
{
    // Without a whole-file-system flush to come, each placed file and its
    // directory are flushed one by one.
    const bool one_by_one = !env.FlushesWholeFileSystem();
    const Prepare prepare = [&](const Path& file, bool copied) {
        if (before_rename) before_rename(file);
        // A fresh copy is never renamed into place while its data may still
        // be lost; a hard link shares content that was flushed before.
        if (copied || one_by_one) env.FlushFile(file);
        if (read_only) env.SetReadOnly(file, true);
    };
    env.Remove(temporary); // a stale one from an interrupted run
    try {
        // The attribute belongs to the content, which a link would share
        // with the extracted file.
        if (read_only)
            env.CopyFileContents(source, temporary);
        prepare(temporary, read_only || LinkOrCopyFile(env, source, temporary));
    } catch (...) {
        boost::system::error_code ignored;
        env.Remove(temporary, ignored);
        throw;
    }
    if (!Place(env, temporary, target, true)) return PlaceOnTargetVolume(env, temporary, target, prepare);
    if (one_by_one) env.FlushDirectory(target.parent_path());
}

} // namespace updater
} // namespace kw
