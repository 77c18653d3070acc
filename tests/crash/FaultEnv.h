// An environment that wraps the real one to interrupt an update in this
// process, on every system: it counts the operations that change the disk
// or flush it, and stops at the Nth one as a killed process. It can keep a
// journal of what a power cut at the stop would leave (PowerCut.h), in the
// format of the preloaded fault library.
#pragma once

#include "Env.h"
#include "OperationLog.h"

#include <map>
#include <memory>
#include <vector>

namespace crash {

using kw::updater::Env;
using kw::updater::Path;

// Raised by the operation the environment stops at.
struct Stopped {};

class FaultEnv : public Env {
public:
    explicit FaultEnv(Env& base) : base_(base) {}

    // Operation `n` (counted from 1) is not performed: it raises Stopped, and
    // every later operation that would change the disk does nothing and fails.
    void StopAt(long n) { stop_at_ = n; }
    // Keeps in `journal` (a directory on the same file system) what a power
    // cut at the stop would leave of the tree `root`.
    void KeepPowerJournal(const Path& journal, const Path& root);

    bool Stopped() const { return stopped_; }
    // Every counted operation so far, with the path it changed.
    const std::vector<Operation>& Operations() const { return operations_; }

    bool MakeDirectory(const Path& path) override;
    bool SetHidden(const Path& path) override;
    kw::updater::FileStatus Status(const Path& path, bool follow_links) override { return base_.Status(path, follow_links); }
    std::vector<Path> ListDirectory(const Path& path) override { return base_.ListDirectory(path); }
    Path SpelledName(const Path& path) override { return base_.SpelledName(path); }
    std::size_t MaxNameLength(const Path& dir) override { return base_.MaxNameLength(dir); }
    Path Absolute(const Path& path) override { return base_.Absolute(path); }
    Path TemporaryDirectory() override { return base_.TemporaryDirectory(); }
    kw::updater::TimesResult GetTimes(const Path& path, bool directories_too, kw::updater::FileTimes& times) override
    {
        return base_.GetTimes(path, directories_too, times);
    }
    kw::updater::TimesResult SetTimes(const Path& path, const kw::updater::FileTimes& times) override;
    void SetReadOnly(const Path& path, bool read_only) override
    {
        AdmitOrRaise("chmod", path);
        base_.SetReadOnly(path, read_only);
    }
    std::unique_ptr<kw::updater::SequentialFile> OpenForReading(const Path& path, boost::system::error_code& error) override
    {
        return base_.OpenForReading(path, error);
    }
    std::unique_ptr<kw::updater::WritableFile> CreateNewFile(const Path& path, bool owner_only,
                                                            boost::system::error_code& error) override;
    std::unique_ptr<kw::updater::ScratchFile> CreateScratchFile(const Path& directory) override
    {
        return base_.CreateScratchFile(directory);
    }
    void CopyFileContents(const Path& source, const Path& target) override;
    void Rename(const Path& from, const Path& to, bool replace, boost::system::error_code& error) override;
    void HardLink(const Path& existing, const Path& link, boost::system::error_code& error) override;
    void Remove(const Path& path, boost::system::error_code& error) override;
    bool FlushesWholeFileSystem() override { return base_.FlushesWholeFileSystem(); }
    void FlushFileSystem(const Path& path) override;
    void FlushFile(const Path& path) override;
    void FlushDirectory(const Path& path) override;
    std::unique_ptr<kw::updater::FileLock> LockFile(const Path& path) override { return base_.LockFile(path); }
    bool IsHeldOpen(const Path& path, Use use) override { return base_.IsHeldOpen(path, use); }
    bool StandardErrorIsTerminal() override { return base_.StandardErrorIsTerminal(); }

    // Counts one operation on `path`: false when it must not be performed
    // (`error` then says why); raises Stopped at the stop.
    bool Admit(const char* op, const Path& path, boost::system::error_code& error);
    bool Admit(const char* op, const Path& path)
    {
        boost::system::error_code ignored;
        return Admit(op, path, ignored);
    }
    // The same for operations that report failure by raising.
    void AdmitOrRaise(const char* op, const Path& path);
    // What a flush or a write means for the power journal.
    void Wrote(const Path& path);
    void Flushed(const Path& path);

private:
    void Snapshot(const Path& path, bool whole);
    void WriteDirty();

    Env& base_;
    long stop_at_ = 0;
    bool stopped_ = false;
    std::vector<Operation> operations_;
    // The power journal: where, of what, and the files written since their
    // last flush with the length their flushed data reaches.
    Path journal_, root_;
    long snapshots_ = 0;
    std::map<Path, std::uint64_t> dirty_;
};

} // namespace crash
