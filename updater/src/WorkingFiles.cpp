#include "WorkingFiles.h"

#include "NativeText.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cstdint>

namespace kw {
namespace updater {
namespace {

// update_dir / name followed by `suffix`, or "~", a digest of the name and
// `suffix` when that is longer than the file system allows. The digest is
// FNV-1a over the name's native bytes, so one name always gives one file.
Path WorkingFile(Env& env, const Path& update_dir, const Path& name, const char* suffix)
{
    Path file = name;
    file += suffix;
    // The installation root holds the update directory, which may not exist yet.
    if (file.native().size() <= env.MaxNameLength(update_dir.parent_path())) return update_dir / file;
    std::uint64_t digest = 14695981039346656037ULL;
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.native().data());
    for (std::size_t i = 0; i < name.native().size() * sizeof(name.native()[0]); ++i)
        digest = (digest ^ bytes[i]) * 1099511628211ULL;
    return update_dir / ((boost::format("~%016x") % digest).str() + suffix);
}

} // namespace

Path StageFile(Env& env, const Path& update_dir, const std::string& stem)
{
    return WorkingFile(env, update_dir, NarrowToPath(stem), ".stage");
}

Path TemporaryPackage(Env& env, const Path& extract_dir)
{
    return WorkingFile(env, extract_dir.parent_path(), extract_dir.filename(), ".pkg.bz2");
}

Path TemporaryFile(const Path& stage_file)
{
    Path::string_type name = stage_file.filename().native();
    const Path::string_type stage_suffix = Path(".stage").native();
    const std::size_t kept = name.size() - std::min(name.size(), stage_suffix.size());
    if (name.compare(kept, Path::string_type::npos, stage_suffix) == 0) name.erase(kept);
    Path temporary = stage_file.parent_path() / name;
    temporary += ".kwtmp";
    return temporary;
}

void RemoveUnlessDirectory(Env& env, const Path& path)
{
    const FileStatus status = env.Status(path, false);
    if (status.Exists() && !status.IsDirectory()) env.Remove(path);
}

} // namespace updater
} // namespace kw
