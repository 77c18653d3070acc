// POSIX implementation of the platform layer. Native file names are UTF-8;
// the program's narrow text is CP932 and is converted at this boundary.
#include "Platform.h"

#include <kw/KWConvert.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <boost/filesystem/exception.hpp>

namespace platform {
namespace {

const char kCreatedAttribute[] = "user.kw.created";
const std::int64_t kTicksPerSecond = 10000000;
const std::int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::uint64_t ToTicks(const FILETIME& t)
{
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FromTicks(std::uint64_t ticks)
{
    FILETIME t;
    t.dwLowDateTime = static_cast<std::uint32_t>(ticks);
    t.dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
    return t;
}

FILETIME FromTimespec(const struct timespec& ts)
{
    const std::int64_t ticks = (static_cast<std::int64_t>(ts.tv_sec) + kUnixEpochInFileTimeSeconds) * kTicksPerSecond +
                               ts.tv_nsec / 100;
    return FromTicks(static_cast<std::uint64_t>(ticks < 0 ? 0 : ticks));
}

struct timespec ToTimespec(const FILETIME& t)
{
    const std::int64_t ticks = static_cast<std::int64_t>(ToTicks(t));
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

} // namespace

bool CreateOneDirectory(const std::string& narrow_path)
{
    return ::mkdir(NarrowToPath(narrow_path).c_str(), 0777) == 0;
}

bool SetHiddenOnly(const std::string& narrow_path)
{
    // A leading dot hides a name here; the working directories have one.
    struct stat st;
    return ::lstat(NarrowToPath(narrow_path).c_str(), &st) == 0;
}

struct FileHandle::State {
    int fd = -1;
};

FileHandle::FileHandle(const std::string& narrow_path, Access access, bool backup_semantics) : state_(new State)
{
    const boost::filesystem::path native = NarrowToPath(narrow_path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        // As on Windows, a directory opens only with backup semantics.
        if (!backup_semantics) return;
        state_->fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        state_->fd = ::open(native.c_str(), (access == Write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    }
}

FileHandle::~FileHandle()
{
    if (state_->fd >= 0) ::close(state_->fd);
    delete state_;
}

bool FileHandle::IsOpen() const { return state_->fd >= 0; }

bool FileHandle::GetTimes(FILETIME* created, FILETIME* modified) const
{
    if (!IsOpen()) return false;
    struct statx sx;
    if (::statx(state_->fd, "", AT_EMPTY_PATH, STATX_MTIME | STATX_BTIME, &sx) != 0) return false;
    struct timespec mtime = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
    if (modified) *modified = FromTimespec(mtime);
    if (created) {
        unsigned char stored[8];
        if (::fgetxattr(state_->fd, kCreatedAttribute, stored, sizeof stored) == static_cast<ssize_t>(sizeof stored)) {
            std::uint64_t ticks = 0;
            for (int i = 7; i >= 0; --i) ticks = (ticks << 8) | stored[i];
            *created = FromTicks(ticks);
        } else if (sx.stx_mask & STATX_BTIME) {
            struct timespec btime = {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
            *created = FromTimespec(btime);
        } else {
            *created = FromTimespec(mtime);
        }
    }
    return true;
}

bool FileHandle::SetTimes(const FILETIME* created, const FILETIME* modified)
{
    if (!IsOpen()) return false;
    if (modified) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = ToTimespec(*modified);
        if (::futimens(state_->fd, times) != 0) return false;
    }
    if (created) {
        // Linux cannot set a birth time: keep it beside the file. A file
        // system without extended attributes simply does not store it.
        unsigned char stored[8];
        std::uint64_t ticks = ToTicks(*created);
        for (int i = 0; i < 8; ++i, ticks >>= 8) stored[i] = static_cast<unsigned char>(ticks);
        if (::fsetxattr(state_->fd, kCreatedAttribute, stored, sizeof stored, 0) != 0 && errno != ENOTSUP &&
            errno != EPERM && errno != EACCES)
            return false;
    }
    return true;
}

boost::filesystem::path NarrowToPath(const std::string& narrow)
{
    return boost::filesystem::path(IsAscii(narrow) ? narrow : kw::ConvertSjisToUtf8(narrow));
}

std::string PathToNarrow(const boost::filesystem::path& path)
{
    const std::string& native = path.native();
    if (IsAscii(native)) return native;
    std::string narrow;
    kw::ConvertUtf8ToSjis(native, narrow, kw::default_appender());
    return narrow;
}

std::string ArgumentToNarrow(const char* argument)
{
    // File names and arguments on this system are UTF-8.
    return PathToNarrow(boost::filesystem::path(argument));
}

std::string NarrowToConsole(const std::string& narrow)
{
    if (IsAscii(narrow)) return narrow;
    try {
        return kw::ConvertSjisToUtf8(narrow);
    } catch (const std::exception&) {
        return narrow; // Show the bytes rather than lose the message.
    }
}

// The terminal, file names and the system's own texts are all UTF-8 here.
std::string NativeToConsole(const std::string& native) { return native; }
std::string Utf8ToConsole(const std::string& utf8) { return utf8; }

namespace {

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

[[noreturn]] void ThrowCopyError(const char* what, const boost::filesystem::path& source,
                                 const boost::filesystem::path& target)
{
    throw boost::filesystem::filesystem_error(what, source, target,
                                              boost::system::error_code(errno, boost::system::system_category()));
}

} // namespace

void CopyFileContents(const boost::filesystem::path& source, const boost::filesystem::path& target)
{
    const Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0) ThrowCopyError("cannot open the file to copy", source, target);
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        ThrowCopyError("cannot copy what is not a regular file", source, target);
    }
    const Descriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (out.fd < 0) ThrowCopyError("cannot create the copy", source, target);

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
                if (n < 0) ThrowCopyError("cannot write the copy", source, target);
                written += n;
            }
        }
        if (copied < 0) ThrowCopyError("cannot copy the file", source, target);
        if (copied == 0) break;
    }
    if (::fchmod(out.fd, st.st_mode & 07777) != 0) ThrowCopyError("cannot set the copy's permissions", source, target);
}

void OpenNewFile(const boost::filesystem::path& path, std::ofstream& out)
{
    // O_CREAT | O_EXCL: an existing name fails, and a link is never followed.
    out.open(path.c_str(), std::ios::binary | std::ios::out | std::ios::__noreplace);
}

bool FlushesWholeFileSystem() { return true; }

namespace {

// Opens `path` read-only (a directory too) and runs `flush` on it.
void FlushOpened(const boost::filesystem::path& path, int (*flush)(int), const char* what)
{
    const Descriptor fd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0 || flush(fd.fd) != 0)
        throw boost::filesystem::filesystem_error(what, path,
                                                  boost::system::error_code(errno, boost::system::system_category()));
}

} // namespace

void FlushFileSystem(const boost::filesystem::path& path) { FlushOpened(path, ::syncfs, "cannot flush the file system"); }

void FlushFile(const boost::filesystem::path& path) { FlushOpened(path, ::fsync, "cannot flush the file"); }

void FlushDirectory(const boost::filesystem::path& path) { FlushOpened(path, ::fsync, "cannot flush the directory"); }

std::size_t MaxNameLength(const boost::filesystem::path& dir)
{
    const long limit = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

bool PathTooLong(const boost::filesystem::path&, bool)
{
    return false;
}

bool IsHeldOpen(const boost::filesystem::path&)
{
    return false; // POSIX has no sharing modes
}

} // namespace platform
