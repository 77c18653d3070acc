// The environment on POSIX systems: native names are UTF-8 bytes, file times
// are modification times at full precision with the creation time kept in
// an extended attribute, and one syncfs flushes a whole file system.
#include "Env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>

#include <cerrno>
#include <cstdlib>

namespace kw {
namespace updater {
namespace {

const char kCreatedAttribute[] = "user.kw.created";
const std::int64_t kTicksPerSecond = 10000000;
const std::int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

boost::system::error_code LastError()
{
    return boost::system::error_code(errno, boost::system::system_category());
}

[[noreturn]] void Raise(const char* what, const Path& path)
{
    RaiseFileError(what, path, LastError());
}

const char* Native(const Path& path)
{
    return path.empty() ? "." : path.c_str();
}

FILETIME FromTimespec(std::int64_t seconds, long nanoseconds)
{
    const std::int64_t ticks = (seconds + kUnixEpochInFileTimeSeconds) * kTicksPerSecond + nanoseconds / 100;
    return FileTimeOf(static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks));
}

struct timespec ToTimespec(const FILETIME& t)
{
    const std::int64_t ticks = static_cast<std::int64_t>(TicksOf(t));
    // Floor division keeps times before 1970 correct.
    std::int64_t seconds = ticks / kTicksPerSecond;
    std::int64_t rest = ticks % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --seconds;
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds - kUnixEpochInFileTimeSeconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// Opens `path` as times are read or set: a directory only when asked for.
int OpenForTimes(const Path& path, bool directories_too)
{
    struct stat st;
    if (::stat(Native(path), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) return directories_too ? ::open(Native(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    return ::open(Native(path), O_RDONLY | O_CLOEXEC);
}

// An open file; the scratch file's path is its directory.
class PosixFile : public ScratchFile {
public:
    PosixFile(int fd, const Path& path) : fd_(fd), path_(path) {}
    std::size_t Read(void* data, std::size_t size) override
    {
        for (;;) {
            const ssize_t n = ::read(fd_.fd, data, size);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) Raise("cannot read the file", path_);
        }
    }
    std::uint64_t Size() override
    {
        struct stat st;
        if (::fstat(fd_.fd, &st) != 0) Raise("cannot read the size of the file", path_);
        return static_cast<std::uint64_t>(st.st_size);
    }
    void Rewind() override
    {
        if (::lseek(fd_.fd, 0, SEEK_SET) != 0) Raise("cannot read the file again", path_);
    }
    void Append(const void* data, std::size_t size) override
    {
        for (const char* bytes = static_cast<const char*>(data); size > 0;) {
            const ssize_t n = ::write(fd_.fd, bytes, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Raise("cannot write the file", path_);
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    void Sync() override
    {
        if (::fsync(fd_.fd) != 0) Raise("cannot flush the file", path_);
    }
    void Close() override
    {
        const int fd = fd_.fd;
        fd_.fd = -1;
        if (fd >= 0 && ::close(fd) != 0) Raise("cannot write the file", path_);
    }

private:
    Descriptor fd_;
    Path path_;
};

class PosixFileLock : public FileLock {
public:
    PosixFileLock(int fd, const Path& path) : fd_(fd), path_(path) {}
    ~PosixFileLock() override
    {
        if (fd_.fd >= 0) ::unlink(Native(path_));
    }
    // Removed while still held, so that nobody locks the name in between.
    void Release() override
    {
        if (::unlink(Native(path_)) != 0) Raise("cannot remove", path_);
        ::close(fd_.fd);
        fd_.fd = -1;
    }

private:
    Descriptor fd_;
    Path path_;
};

// Opens `path` read-only (a directory too) and runs `flush` on it.
void FlushOpened(const Path& path, int (*flush)(int), const char* what)
{
    const Descriptor fd(::open(Native(path), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0 || flush(fd.fd) != 0) Raise(what, path);
}

class PosixEnv : public Env {
public:
    bool MakeDirectory(const Path& path) override { return ::mkdir(Native(path), 0777) == 0; }

    bool SetHidden(const Path& path) override
    {
        struct stat st;
        return ::lstat(Native(path), &st) == 0;
    }

    FileStatus Status(const Path& path, bool follow_links) override
    {
        struct stat st;
        FileStatus status;
        if ((follow_links ? ::stat(Native(path), &st) : ::lstat(Native(path), &st)) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return status;
            Raise("cannot read the status of", path);
        }
        status.kind = S_ISREG(st.st_mode)   ? FileKind::kFile
                      : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                      : S_ISLNK(st.st_mode) ? FileKind::kLink
                                            : FileKind::kOther;
        if (status.IsFile()) status.size = static_cast<std::uint64_t>(st.st_size);
        status.read_only = (st.st_mode & 0222) == 0;
        return status;
    }

    std::vector<Path> ListDirectory(const Path& path) override
    {
        DIR* dir = ::opendir(Native(path));
        if (!dir) Raise("cannot list the directory", path);
        std::vector<Path> names;
        errno = 0;
        for (struct dirent* entry; (entry = ::readdir(dir)) != nullptr; errno = 0) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        const int error = errno;
        ::closedir(dir);
        if (error != 0) RaiseFileError("cannot list the directory", path, {error, boost::system::system_category()});
        return names;
    }

    Path SpelledName(const Path& path) override { return Status(path, false).Exists() ? path.filename() : Path(); }

    std::size_t MaxNameLength(const Path& dir) override
    {
        const long limit = ::pathconf(Native(dir), _PC_NAME_MAX);
        return limit > 0 ? static_cast<std::size_t>(limit) : 255;
    }

    Path Absolute(const Path& path) override { return boost::filesystem::absolute(path); }

    Path TemporaryDirectory() override { return boost::filesystem::temp_directory_path(); }

    TimesResult GetTimes(const Path& path, bool directories_too, FileTimes& times) override
    {
        const Descriptor fd(OpenForTimes(path, directories_too));
        if (fd.fd < 0) return TimesResult::kCannotOpen;
        struct statx sx;
        if (::statx(fd.fd, "", AT_EMPTY_PATH, STATX_MTIME | STATX_BTIME, &sx) != 0) return TimesResult::kCannotAccess;
        times.modified = FromTimespec(sx.stx_mtime.tv_sec, static_cast<long>(sx.stx_mtime.tv_nsec));
        unsigned char stored[8];
        if (::fgetxattr(fd.fd, kCreatedAttribute, stored, sizeof stored) == static_cast<ssize_t>(sizeof stored)) {
            std::uint64_t ticks = 0;
            for (int i = 7; i >= 0; --i) ticks = (ticks << 8) | stored[i];
            times.created = FileTimeOf(ticks);
        } else if (sx.stx_mask & STATX_BTIME) {
            times.created = FromTimespec(sx.stx_btime.tv_sec, static_cast<long>(sx.stx_btime.tv_nsec));
        } else {
            times.created = times.modified;
        }
        return TimesResult::kDone;
    }

    TimesResult SetTimes(const Path& path, const FileTimes& times) override
    {
        // Setting times takes ownership, not write permission: a read-only
        // file takes them too.
        const Descriptor fd(OpenForTimes(path, true));
        if (fd.fd < 0) return TimesResult::kCannotOpen;
        struct timespec stamps[2];
        stamps[0].tv_sec = 0;
        stamps[0].tv_nsec = UTIME_OMIT;
        stamps[1] = ToTimespec(times.modified);
        if (::futimens(fd.fd, stamps) != 0) return TimesResult::kCannotAccess;
        // Linux cannot set a birth time: keep it beside the file. A file
        // system without extended attributes simply does not store it.
        unsigned char stored[8];
        std::uint64_t ticks = TicksOf(times.created);
        for (int i = 0; i < 8; ++i, ticks >>= 8) stored[i] = static_cast<unsigned char>(ticks);
        if (::fsetxattr(fd.fd, kCreatedAttribute, stored, sizeof stored, 0) != 0 && errno != ENOTSUP &&
            errno != EPERM && errno != EACCES)
            return TimesResult::kCannotAccess;
        return TimesResult::kDone;
    }

    void SetReadOnly(const Path& path, bool read_only) override
    {
        struct stat st;
        if (::stat(Native(path), &st) != 0 ||
            ::chmod(Native(path), read_only ? st.st_mode & 07555 : st.st_mode | S_IWUSR) != 0)
            Raise("cannot set the read-only attribute of", path);
    }

    std::unique_ptr<SequentialFile> OpenForReading(const Path& path, boost::system::error_code& error) override
    {
        const int fd = ::open(Native(path), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) errno = EISDIR;
        else if (fd >= 0) return std::unique_ptr<SequentialFile>(new PosixFile(fd, path));
        error = LastError();
        if (fd >= 0) ::close(fd);
        return nullptr;
    }

    std::unique_ptr<WritableFile> CreateNewFile(const Path& path, bool owner_only,
                                                boost::system::error_code& error) override
    {
        // O_EXCL: an existing name fails, and a link is never followed.
        const int fd = ::open(Native(path), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, owner_only ? 0600 : 0666);
        if (fd >= 0) return std::unique_ptr<WritableFile>(new PosixFile(fd, path));
        error = LastError();
        return nullptr;
    }

    std::unique_ptr<ScratchFile> CreateScratchFile(const Path& directory) override
    {
        // Unlinked at once, so nothing is left behind even after a crash.
        std::string pattern = (directory / "kwpack-scratch-XXXXXX").string();
        const int fd = ::mkstemp(&pattern[0]);
        if (fd < 0) Raise("cannot create a scratch file in", directory);
        ::unlink(pattern.c_str());
        return std::unique_ptr<ScratchFile>(new PosixFile(fd, directory));
    }

    void CopyFileContents(const Path& source, const Path& target) override;

    void Rename(const Path& from, const Path& to, bool replace, boost::system::error_code& error) override
    {
        error.clear();
        if (replace) {
            if (::rename(Native(from), Native(to)) != 0) error = LastError();
            return;
        }
        // link() refuses an existing name, so nothing appears over it. File
        // systems without hard links get a check and a rename instead.
        if (::link(Native(from), Native(to)) == 0) {
            ::unlink(Native(from));
            return;
        }
        struct stat st;
        if (errno != EPERM && errno != EOPNOTSUPP) error = LastError();
        else if (::lstat(Native(to), &st) == 0) error = boost::system::errc::make_error_code(boost::system::errc::file_exists);
        else if (::rename(Native(from), Native(to)) != 0) error = LastError();
    }

    void HardLink(const Path& existing, const Path& link, boost::system::error_code& error) override
    {
        error.clear();
        if (::link(Native(existing), Native(link)) != 0) error = LastError();
    }

    void Remove(const Path& path, boost::system::error_code& error) override
    {
        error.clear();
        struct stat st;
        if (::lstat(Native(path), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) error = LastError();
            return;
        }
        if ((S_ISDIR(st.st_mode) ? ::rmdir(Native(path)) : ::unlink(Native(path))) != 0 && errno != ENOENT)
            error = LastError();
    }

    bool FlushesWholeFileSystem() override { return true; }

    void FlushFileSystem(const Path& path) override { FlushOpened(path, ::syncfs, "cannot flush the file system"); }

    void FlushFile(const Path& path) override { FlushOpened(path, ::fsync, "cannot flush the file"); }

    void FlushDirectory(const Path& path) override { FlushOpened(path, ::fsync, "cannot flush the directory"); }

    std::unique_ptr<FileLock> LockFile(const Path& path) override
    {
        const int fd = ::open(Native(path), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) Raise("cannot lock", path);
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::unique_ptr<FileLock>(new PosixFileLock(fd, path));
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return nullptr;
        RaiseFileError("cannot lock", path, {error, boost::system::system_category()});
    }

    bool IsHeldOpen(const Path&, Use) override { return false; } // POSIX has no sharing modes


    bool StandardErrorIsTerminal() override { return ::isatty(STDERR_FILENO) != 0; }
};

[[noreturn]] void RaiseCopy(const char* what, const Path& source, const Path& target)
{
    throw boost::filesystem::filesystem_error(what, source, target, LastError());
}

void PosixEnv::CopyFileContents(const Path& source, const Path& target)
{
    const Descriptor in(::open(Native(source), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0) RaiseCopy("cannot open the file to copy", source, target);
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        RaiseCopy("cannot copy what is not a regular file", source, target);
    }
    const Descriptor out(::open(Native(target), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (out.fd < 0) RaiseCopy("cannot create the copy", source, target);

    // The kernel copies without a trip through this process where it can.
    bool kernel_copy = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t copied = -1;
        if (kernel_copy) {
            copied = ::copy_file_range(in.fd, nullptr, out.fd, nullptr, 1 << 30, 0);
            if (copied < 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernel_copy = false;
                continue;
            }
        } else {
            buffer.resize(1 << 16);
            copied = ::read(in.fd, buffer.data(), buffer.size());
            for (ssize_t written = 0; copied > 0 && written < copied;) {
                const ssize_t n = ::write(out.fd, buffer.data() + written, static_cast<size_t>(copied - written));
                if (n < 0) RaiseCopy("cannot write the copy", source, target);
                written += n;
            }
        }
        if (copied < 0) RaiseCopy("cannot copy the file", source, target);
        if (copied == 0) break;
    }
    if (::fchmod(out.fd, st.st_mode & 07777) != 0) RaiseCopy("cannot set the copy's permissions", source, target);
}

} // namespace

Env& Env::Default()
{
    static PosixEnv env;
    return env;
}

} // namespace updater
} // namespace kw
