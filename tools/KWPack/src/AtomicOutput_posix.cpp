// The POSIX side of the atomic outputs: mkstemp/mkdtemp names, fsync, and
// link() for a placement that never replaces an existing file.
#include "AtomicOutput.h"

#include "PackError.h"

#include <boost/filesystem/operations.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

std::string SystemText(const std::string& what, const fs::path& path)
{
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// The name pattern for mkstemp/mkdtemp: a sibling that says what it is.
std::string TempPattern(const fs::path& target)
{
    return target.string() + ".kwtmp-XXXXXX";
}

mode_t CurrentUmask()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

AtomicFile::AtomicFile(const fs::path& target, bool overwrite, mode_t mode)
    : target_(target), file_(nullptr), overwrite_(overwrite)
{
    RefuseExisting(target, overwrite);
    std::string pattern = TempPattern(target);
    int fd = ::mkstemp(&pattern[0]);
    if (fd < 0) throw PackError(SystemText("cannot create a file next to", target));
    temp_ = pattern;
    // mkstemp makes 0600; widen to what the output should have (umask applies).
    ::fchmod(fd, mode & ~CurrentUmask());
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(temp_.c_str());
        throw PackError(SystemText("cannot open", temp_));
    }
}

AtomicFile::~AtomicFile()
{
    if (file_) {
        std::fclose(file_);
        ::unlink(temp_.c_str());
    }
}

void AtomicFile::Write(const void* data, std::size_t size)
{
    if (size && std::fwrite(data, 1, size, file_) != size) throw PackError(SystemText("cannot write", temp_));
}

void AtomicFile::Commit()
{
    if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) throw PackError(SystemText("cannot write", temp_));
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        ::unlink(temp_.c_str());
        throw PackError(SystemText("cannot write", temp_));
    }
    int rc;
    if (overwrite_) {
        rc = ::rename(temp_.c_str(), target_.c_str());
    } else {
        // link() refuses an existing name, so nothing appears over it. File
        // systems without hard links get a check and a rename instead.
        rc = ::link(temp_.c_str(), target_.c_str());
        if (rc != 0 && (errno == EPERM || errno == EOPNOTSUPP)) {
            struct stat info;
            if (::lstat(target_.c_str(), &info) == 0) {
                errno = EEXIST;
            } else {
                rc = ::rename(temp_.c_str(), target_.c_str());
                if (rc == 0) return;
            }
        }
    }
    int saved = errno;
    if (rc != 0 || !overwrite_) ::unlink(temp_.c_str());
    errno = saved;
    if (rc != 0) {
        if (errno == EEXIST) throw PackError(target_.string() + " exists; use --force to replace it");
        throw PackError(SystemText("cannot create", target_));
    }
}

AtomicDirectory::AtomicDirectory(const fs::path& target, bool overwrite) : target_(target), overwrite_(overwrite)
{
    RefuseExisting(target, overwrite);
    std::string pattern = TempPattern(target);
    if (!::mkdtemp(&pattern[0])) throw PackError(SystemText("cannot create a directory next to", target));
    temp_ = pattern;
    ::chmod(temp_.c_str(), 0777 & ~CurrentUmask());
}

ScratchDirectory::ScratchDirectory(const fs::path& beside)
{
    std::string pattern = TempPattern(beside);
    if (!::mkdtemp(&pattern[0])) throw PackError(SystemText("cannot create a directory next to", beside));
    path_ = pattern;
}

ScratchFile::ScratchFile(const fs::path& directory)
{
    std::string pattern = (directory / "kwpack-scratch-XXXXXX").string();
    int fd = ::mkstemp(&pattern[0]);
    if (fd < 0) throw PackError(SystemText("cannot create a scratch file in", directory));
    ::unlink(pattern.c_str());
    file_ = ::fdopen(fd, "w+b");
    if (!file_) {
        ::close(fd);
        throw PackError(SystemText("cannot open a scratch file in", directory));
    }
}

} // namespace kwpack
