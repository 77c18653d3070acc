#include "StageRecord.h"

#include "AtomicFile.h"
#include "KWUpdaterError.h"
#include "WorkingFiles.h"

#include <kw/archive/ArchiveFormat.h>

#include <boost/filesystem/exception.hpp>

namespace kw {
namespace updater {
namespace {

// Reads exactly `size` bytes; false on a short or failed read.
bool ReadExactly(SequentialFile& file, unsigned char* data, std::size_t size)
{
    try {
        for (std::size_t got; size > 0; data += got, size -= got)
            if ((got = file.Read(data, size)) == 0) return false;
        return true;
    } catch (const boost::filesystem::filesystem_error&) {
        return false;
    }
}

// Writes the stage record whole through its temporary file, flushed. The
// record stands once renamed; the directory's flush makes it last. Should
// that flush fail, the stage is not failed for it: each stage's work was
// flushed before its record, so a record lost to a power cut only repeats
// work that is safe to repeat.
void WriteRecord(Env& env, const Path& stage_file, int stage)
{
    unsigned char bytes[4];
    kw::archive::format::StoreLe32(bytes, static_cast<std::uint32_t>(stage));
    WriteFileAtomically(env, stage_file, TemporaryFile(stage_file), bytes, sizeof bytes);
}

// Flushes a file, or a directory with every file and directory below it.
void FlushTree(Env& env, const Path& path, const FileStatus& status)
{
    if (status.IsFile()) env.FlushFile(path);
    if (!status.IsDirectory()) return;
    for (const Path& name : env.ListDirectory(path)) FlushTree(env, path / name, env.Status(path / name, false));
    env.FlushDirectory(path);
}

} // namespace

ResumePlan PlanResume(int recorded)
{
    // Compared unsigned: a negative record is as unknown as a large one.
    if (static_cast<unsigned>(recorded) > 4) return ResumePlan{false, 0};
    return ResumePlan{true, recorded + 1};
}

bool CreateUpdateDir(Env& env, const Path& update_dir)
{
    if (!Exists(env, update_dir)) {
        if (env.MakeDirectory(update_dir)) {
            if (!env.SetHidden(update_dir)) KW_FAIL("cannot set attributes", "StageDir::CheckStage");
            return true;
        }
        if (!Exists(env, update_dir)) KW_FAIL("cannot create directory", "StageDir::CreateFsDirectory");
    }
    if (!IsDirectory(env, update_dir)) KW_FAIL(".update is not a directory", "StageDir::CheckStage");
    return false;
}

int CheckStage(Env& env, const Path& update_dir, const Path& stage_file)
{
    return CreateUpdateDir(env, update_dir) ? 0 : ReadStage(env, stage_file);
}

std::unique_ptr<FileLock> LockUpdateDir(Env& env, const Path& update_dir)
{
    std::unique_ptr<FileLock> lock = env.LockFile(update_dir / "kwupdater.lock");
    if (!lock) KW_FAIL("another update is running in this installation", "update");
    return lock;
}

int ReadStage(Env& env, const Path& stage_file)
{
    const FileStatus status = env.Status(stage_file, true);
    if (status.IsFile()) {
        boost::system::error_code error;
        const std::unique_ptr<SequentialFile> file = env.OpenForReading(stage_file, error);
        if (!file) KW_FAIL("cannot open stage-file", "StageDir::ReadStage");
        unsigned char bytes[4];
        if (!ReadExactly(*file, bytes, sizeof bytes)) KW_FAIL("cannot read stage-file", "StageDir::ReadStage");
        return static_cast<int>(kw::archive::format::LoadLe32(bytes));
    }
    if (status.Exists()) KW_FAIL("stage-file is not a regular file", "StageDir::ReadStage");

    // Never a short stage file, even after a kill or on a full disk.
    try {
        WriteRecord(env, stage_file, 0);
    } catch (const std::exception&) {
        KW_FAIL("cannot write stage-file", "StageDir::ReadStage");
    }
    return 0;
}

void FinishStage(const Context& context, const Path& stage_file, int stage)
{
    try {
        WriteRecord(context.env, stage_file, stage);
    } catch (const std::exception&) {
        KW_FAIL("cannot write to stage-file", "StageDir::FinishStage");
    }
    context.listener.StageCompleted(stage);
}

void FlushWork(Env& env, const Path& written)
{
    if (env.FlushesWholeFileSystem()) {
        env.FlushFileSystem(written.parent_path());
        return;
    }
    const FileStatus status = env.Status(written, false);
    FlushTree(env, written, status);
    if (status.Exists()) env.FlushDirectory(written.parent_path());
}

void RemoveStage(Env& env, const Path& update_dir, const Path& stage_file)
{
    env.Remove(stage_file);
    // Once the record is gone for good, a later run starts from the package;
    // one that comes back after a power cut would stop at "unknown stage".
    env.FlushDirectory(update_dir);
    RemoveUpdateDirIfEmpty(env, update_dir);
}

void RemoveUpdateDirIfEmpty(Env& env, const Path& update_dir)
{
    if (Exists(env, update_dir) && IsEmptyDirectory(env, update_dir)) env.Remove(update_dir);
}

} // namespace updater
} // namespace kw
