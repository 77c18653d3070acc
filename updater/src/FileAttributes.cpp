#include "FileAttributes.h"

#include "KWUpdaterError.h"

namespace kw {
namespace updater {
namespace {

// Fails with the text for the step of reading or setting times that failed.
void RequireTimes(TimesResult result, const char* cannot_open, const char* cannot_access, const char* label)
{
    if (result == TimesResult::kCannotOpen) KW_FAIL(cannot_open, label);
    if (result == TimesResult::kCannotAccess) KW_FAIL(cannot_access, label);
}

} // namespace

void CreateFsDirectory(Env& env, const Path& path)
{
    if (!env.MakeDirectory(path)) KW_FAIL("cannot create directory", "StageDir::CreateFsDirectory");
}

void CreateHiddenDirectory(Env& env, const Path& dir, const char* label)
{
    CreateFsDirectory(env, dir);
    if (!env.SetHidden(dir)) KW_FAIL("cannot set attributes", label);
}

void CopyFsAttributes(Env& env, const Path& source, const Path& target)
{
    if (!Exists(env, source)) KW_FAIL("source file does not exit", "StageDir::CopyFsAttributes");
    FileTimes times;
    RequireTimes(env.GetTimes(source, false, times), "cannot get attributes: CreateFile",
                 "cannot get attributes: GetFileTime", "StageDir::CopyFsAttributes");
    SetFsAttributes(env, target, times.created, times.modified);
}

void SetFsAttributes(Env& env, const Path& target, const FILETIME& created, const FILETIME& modified)
{
    if (!Exists(env, target)) KW_FAIL("target does not exist", "FsImpl::SetFsAttributes");
    RequireTimes(env.SetTimes(target, FileTimes{created, modified}), "cannot set attributes: CreateFile",
                 "cannot set attributes: SetFileTime", "FsImpl::SetFsAttributes");
}

} // namespace updater
} // namespace kw
