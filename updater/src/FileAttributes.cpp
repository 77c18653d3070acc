#include "FileAttributes.h"

#include "KWUpdaterError.h"

#include <kw/archive/Node.h>

namespace kw {
namespace updater {

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
    switch (env.GetTimes(source, false, times)) {
    case TimesResult::kCannotOpen:
        KW_FAIL("cannot get attributes: CreateFile", "StageDir::CopyFsAttributes");
    case TimesResult::kCannotAccess:
        KW_FAIL("cannot get attributes: GetFileTime", "StageDir::CopyFsAttributes");
    case TimesResult::kDone:
        break;
    }
    SetFsAttributes(env, target, times.created, times.modified);
}

void SetFsAttributes(Env& env, const Path& target, const FILETIME& created, const FILETIME& modified)
{
    if (!Exists(env, target)) KW_FAIL("target does not exist", "FsImpl::SetFsAttributes");
    switch (env.SetTimes(target, FileTimes{created, modified})) {
    case TimesResult::kCannotOpen:
        KW_FAIL("cannot set attributes: CreateFile", "FsImpl::SetFsAttributes");
    case TimesResult::kCannotAccess:
        KW_FAIL("cannot set attributes: SetFileTime", "FsImpl::SetFsAttributes");
    case TimesResult::kDone:
        break;
    }
}

void SetFsAttributes(Env& env, const Path& target, const kw::archive::Node& node)
{
    SetFsAttributes(env, target, node.GetCreated(), node.GetModified());
}

} // namespace updater
} // namespace kw
