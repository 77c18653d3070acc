#include "FaultEnv.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>

namespace fs = boost::filesystem;
using kw::updater::FileTimes;
using kw::updater::TimesResult;
using kw::updater::WritableFile;

namespace crash {
namespace {

// A file being written, whose appends and flushes are operations.
class FaultWritableFile : public WritableFile {
public:
    FaultWritableFile(FaultEnv& env, const Path& path, std::unique_ptr<WritableFile> base)
        : env_(env), path_(path), base_(std::move(base))
    {
    }
    void Append(const void* data, std::size_t size) override
    {
        env_.AdmitOrRaise("write", path_);
        base_->Append(data, size);
    }
    void Sync() override
    {
        env_.AdmitOrRaise("fsync", path_);
        base_->Sync();
        env_.Flushed(path_);
    }
    void Close() override { base_->Close(); }

private:
    FaultEnv& env_;
    Path path_;
    std::unique_ptr<WritableFile> base_;
};

// `path` below `root`, or empty when it lies elsewhere.
fs::path Below(const Path& root, const Path& path)
{
    const fs::path relative = fs::absolute(path).lexically_normal().lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") return fs::path();
    return relative;
}

// Copies the entries of `from` to `to`: files as hard links, directories
// whole when `whole`, else as empty directories (their names only).
void LinkTree(const fs::path& from, const fs::path& to, bool whole)
{
    fs::create_directories(to);
    for (fs::directory_iterator it(from), end; it != end; ++it) {
        const fs::path target = to / it->path().filename();
        if (fs::is_directory(it->symlink_status())) {
            if (whole)
                LinkTree(it->path(), target, true);
            else
                fs::create_directory(target);
        } else {
            fs::create_hard_link(it->path(), target);
        }
    }
}

} // namespace

bool FaultEnv::Admit(const char* op, const Path& path, boost::system::error_code& error)
{
    error.clear();
    if (stopped_) {
        error = boost::system::errc::make_error_code(boost::system::errc::io_error);
        return false;
    }
    operations_.push_back({op, path.generic_string()});
    const long index = static_cast<long>(operations_.size());
    if (index == stop_at_) {
        stopped_ = true;
        WriteDirty();
        throw crash::Stopped();
    }
    return true;
}

void FaultEnv::AdmitOrRaise(const char* op, const Path& path)
{
    boost::system::error_code error;
    if (!Admit(op, path, error)) kw::updater::RaiseFileError(op, path, error);
}

void FaultEnv::KeepPowerJournal(const Path& journal, const Path& root)
{
    journal_ = journal;
    root_ = fs::canonical(root);
    Snapshot(root_, true);
}

void FaultEnv::Wrote(const Path& path)
{
    if (!journal_.empty()) dirty_.emplace(path, 0); // a new file: nothing of it was flushed yet
}

void FaultEnv::Flushed(const Path& path)
{
    dirty_.erase(path);
}

// Records the durable state of the tree (whole) or of one directory, as the
// fault library does: "full N" or "dir N RELATIVE" in the index, the entries
// in journal/N.
void FaultEnv::Snapshot(const Path& path, bool whole)
{
    if (journal_.empty()) return;
    const fs::path relative = whole ? fs::path(".") : Below(root_, path);
    if (relative.empty()) return;
    const fs::path target = journal_ / std::to_string(++snapshots_);
    LinkTree(whole ? root_ : root_ / relative, whole ? target : target / relative, whole);
    std::ofstream index((journal_ / "index").string(), std::ios::app);
    index << (whole ? "full " : "dir ") << snapshots_ << (whole ? "" : " " + relative.generic_string()) << "\n";
}

// The files written since their last flush, by their paths at the stop; a
// power cut loses their unflushed data.
void FaultEnv::WriteDirty()
{
    if (journal_.empty()) return;
    std::ofstream out((journal_ / "dirty-paths").string());
    for (const auto& file : dirty_) {
        const fs::path relative = Below(root_, file.first);
        if (!relative.empty()) out << file.second << " " << relative.generic_string() << "\n";
    }
}

bool FaultEnv::MakeDirectory(const Path& path) { return Admit("mkdir", path) && base_.MakeDirectory(path); }

bool FaultEnv::SetHidden(const Path& path) { return Admit("hide", path) && base_.SetHidden(path); }

TimesResult FaultEnv::SetTimes(const Path& path, const FileTimes& times)
{
    return Admit("utimens", path) ? base_.SetTimes(path, times) : TimesResult::kCannotAccess;
}

std::unique_ptr<WritableFile> FaultEnv::CreateNewFile(const Path& path, bool owner_only,
                                                     boost::system::error_code& error)
{
    if (!Admit("open", path, error)) return nullptr;
    std::unique_ptr<WritableFile> file = base_.CreateNewFile(path, owner_only, error);
    if (!file) return nullptr;
    Wrote(path);
    return std::unique_ptr<WritableFile>(new FaultWritableFile(*this, path, std::move(file)));
}

void FaultEnv::CopyFileContents(const Path& source, const Path& target)
{
    AdmitOrRaise("copy", target);
    base_.CopyFileContents(source, target);
    Wrote(target);
}

void FaultEnv::Rename(const Path& from, const Path& to, bool replace, boost::system::error_code& error)
{
    if (!Admit("rename", to, error)) return;
    base_.Rename(from, to, replace, error);
    if (error) return;
    dirty_.erase(to);
    const auto moved = dirty_.find(from);
    if (moved == dirty_.end()) return;
    dirty_.emplace(to, moved->second);
    dirty_.erase(moved);
}

void FaultEnv::HardLink(const Path& existing, const Path& link, boost::system::error_code& error)
{
    if (!Admit("link", link, error)) return;
    base_.HardLink(existing, link, error);
    const auto shared = dirty_.find(existing);
    if (!error && shared != dirty_.end()) dirty_.emplace(link, shared->second);
}

void FaultEnv::Remove(const Path& path, boost::system::error_code& error)
{
    error.clear();
    const kw::updater::FileStatus status = base_.Status(path, false);
    if (!status.Exists()) return; // nothing to change
    if (!Admit(status.IsDirectory() ? "rmdir" : "unlink", path, error)) return;
    base_.Remove(path, error);
    if (!error) dirty_.erase(path);
}

void FaultEnv::FlushFileSystem(const Path& path)
{
    AdmitOrRaise("syncfs", path);
    base_.FlushFileSystem(path);
    dirty_.clear();
    Snapshot(root_, true);
}

void FaultEnv::FlushFile(const Path& path)
{
    AdmitOrRaise("fsync", path);
    base_.FlushFile(path);
    Flushed(path);
}

void FaultEnv::FlushDirectory(const Path& path)
{
    AdmitOrRaise("fsync", path);
    base_.FlushDirectory(path);
    Snapshot(path, false);
}

} // namespace crash
