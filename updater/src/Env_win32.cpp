// The environment on Windows: the wide kernel32 calls on native (UTF-16)
// paths. A directory opens only with backup semantics; renames never become
// a copy and a delete.
#include "Env.h"

#include "LongPath.h"

#include <windows.h>
#include <io.h>

#include <boost/filesystem/operations.hpp>

namespace kw {
namespace updater {
namespace {

boost::system::error_code ErrorCode(DWORD error)
{
    return boost::system::error_code(static_cast<int>(error), boost::system::system_category());
}

[[noreturn]] void Raise(const char* what, const Path& path, DWORD error = ::GetLastError())
{
    RaiseFileError(what, path, ErrorCode(error));
}

// The form of `path` that the system calls take: absolute and extended, so
// that no length limit applies.
std::wstring Native(const Path& path)
{
    wchar_t current[32768];
    const DWORD length = ::GetCurrentDirectoryW(sizeof current / sizeof current[0], current);
    const std::wstring directory(current, length < sizeof current / sizeof current[0] ? length : 0);
    return ExtendedLengthPath(path.empty() ? std::wstring(L".") : path.native(), directory);
}

// kw::FILETIME and the system's, which have the same two fields.
template <class To, class From>
To ConvertTime(const From& time)
{
    To t;
    t.dwLowDateTime = time.dwLowDateTime;
    t.dwHighDateTime = time.dwHighDateTime;
    return t;
}

// Closes a handle when it goes out of scope.
struct Handle {
    HANDLE handle;
    explicit Handle(HANDLE handle) : handle(handle) {}
    ~Handle()
    {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
    bool Open() const { return handle != INVALID_HANDLE_VALUE; }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Clears the read-only attribute, which keeps a file from being replaced or
// removed (the file system removes and replaces regardless, as on POSIX).
void ClearReadOnly(const std::wstring& native)
{
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// What one ReadFile or WriteFile call takes of `size` bytes.
DWORD Piece(std::size_t size)
{
    return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
}

// An open file; the scratch file's path is its directory.
class WindowsFile : public ScratchFile {
public:
    WindowsFile(HANDLE handle, const Path& path) : handle_(handle), path_(path) {}
    std::size_t Read(void* data, std::size_t size) override
    {
        DWORD got = 0;
        if (!::ReadFile(handle_.handle, data, Piece(size), &got, nullptr)) Raise("cannot read the file", path_);
        return got;
    }
    std::uint64_t Size() override
    {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(handle_.handle, &size)) Raise("cannot read the size of the file", path_);
        return static_cast<std::uint64_t>(size.QuadPart);
    }
    void Rewind() override
    {
        LARGE_INTEGER start = {};
        if (!::SetFilePointerEx(handle_.handle, start, nullptr, FILE_BEGIN)) Raise("cannot read the file again", path_);
    }
    void Append(const void* data, std::size_t size) override
    {
        for (const char* bytes = static_cast<const char*>(data); size > 0;) {
            DWORD written = 0;
            if (!::WriteFile(handle_.handle, bytes, Piece(size), &written, nullptr)) Raise("cannot write the file", path_);
            bytes += written;
            size -= written;
        }
    }
    void Sync() override
    {
        if (!::FlushFileBuffers(handle_.handle)) Raise("cannot flush the file", path_);
    }
    void Close() override
    {
        const HANDLE handle = handle_.handle;
        handle_.handle = INVALID_HANDLE_VALUE;
        if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle)) Raise("cannot write the file", path_);
    }

private:
    Handle handle_;
    Path path_;
};

class WindowsFileLock : public FileLock {
public:
    explicit WindowsFileLock(HANDLE handle) : handle_(handle) {}
    void Release() override
    {
        ::CloseHandle(handle_.handle);
        handle_.handle = INVALID_HANDLE_VALUE;
    }

private:
    Handle handle_; // closing it deletes the file
};

// Opens a file, or a directory (which opens only with backup semantics),
// for writing and flushes its buffers; write access is what
// FlushFileBuffers needs. Returns the system's error, or 0.
DWORD FlushOpened(const Path& path, DWORD flags)
{
    const Handle handle(::CreateFileW(Native(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    return handle.Open() && ::FlushFileBuffers(handle.handle) ? 0 : ::GetLastError();
}

class WindowsEnv : public Env {
public:
    bool MakeDirectory(const Path& path) override { return ::CreateDirectoryW(Native(path).c_str(), nullptr) != 0; }

    bool SetHidden(const Path& path) override
    {
        return ::SetFileAttributesW(Native(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
    }

    FileStatus Status(const Path& path, bool follow_links) override
    {
        boost::system::error_code error;
        const boost::filesystem::file_status status = follow_links ? boost::filesystem::status(Native(path), error)
                                                                   : boost::filesystem::symlink_status(Native(path), error);
        FileStatus result;
        switch (status.type()) {
        case boost::filesystem::file_not_found:
            return result;
        case boost::filesystem::regular_file:
            result.kind = FileKind::kFile;
            result.size = boost::filesystem::file_size(Native(path), error);
            break;
        case boost::filesystem::directory_file:
            result.kind = FileKind::kDirectory;
            break;
        case boost::filesystem::symlink_file:
            result.kind = FileKind::kLink;
            break;
        case boost::filesystem::status_error:
            RaiseFileError("cannot read the status of", path, error);
        default:
            result.kind = FileKind::kOther;
        }
        const DWORD attributes = ::GetFileAttributesW(Native(path).c_str());
        result.read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
        return result;
    }

    std::vector<Path> ListDirectory(const Path& path) override
    {
        std::vector<Path> names;
        boost::system::error_code error;
        boost::filesystem::directory_iterator it(Native(path), error), end;
        for (; !error && it != end; it.increment(error)) names.push_back(it->path().filename());
        if (error) RaiseFileError("cannot list the directory", path, error);
        return names;
    }

    Path SpelledName(const Path& path) override
    {
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileW(Native(path).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return Path();
        ::FindClose(search);
        return Path(found.cFileName);
    }

    std::size_t MaxNameLength(const Path&) override
    {
        // NTFS, FAT32, exFAT and ReFS all hold 255 UTF-16 units. Asking the
        // volume costs two calls for every working name, and Wine cannot
        // answer for a Linux folder.
        return 255;
    }

    Path Absolute(const Path& path) override { return boost::filesystem::absolute(path); }

    Path TemporaryDirectory() override { return boost::filesystem::temp_directory_path(); }

    TimesResult GetTimes(const Path& path, bool directories_too, FileTimes& times) override
    {
        const Handle handle(::CreateFileW(Native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, directories_too ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
        if (!handle.Open()) return TimesResult::kCannotOpen;
        ::FILETIME created, modified;
        if (!::GetFileTime(handle.handle, &created, nullptr, &modified)) return TimesResult::kCannotAccess;
        times.created = ConvertTime<FILETIME>(created);
        times.modified = ConvertTime<FILETIME>(modified);
        return TimesResult::kDone;
    }

    TimesResult SetTimes(const Path& path, const FileTimes& times) override
    {
        // Writing attributes only: a read-only file takes times too.
        const Handle handle(::CreateFileW(Native(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!handle.Open()) return TimesResult::kCannotOpen;
        const auto created = ConvertTime<::FILETIME>(times.created), modified = ConvertTime<::FILETIME>(times.modified);
        return ::SetFileTime(handle.handle, &created, nullptr, &modified) ? TimesResult::kDone
                                                                           : TimesResult::kCannotAccess;
    }

    void SetReadOnly(const Path& path, bool read_only) override
    {
        const DWORD attributes = ::GetFileAttributesW(Native(path).c_str());
        const DWORD wanted = read_only ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~FILE_ATTRIBUTE_READONLY;
        if (attributes == INVALID_FILE_ATTRIBUTES || !::SetFileAttributesW(Native(path).c_str(), wanted))
            Raise("cannot set the read-only attribute of", path);
    }

    std::unique_ptr<SequentialFile> OpenForReading(const Path& path, boost::system::error_code& error) override
    {
        const HANDLE handle = ::CreateFileW(Native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return std::unique_ptr<SequentialFile>(new WindowsFile(handle, path));
        error = ErrorCode(::GetLastError());
        return nullptr;
    }

    std::unique_ptr<WritableFile> CreateNewFile(const Path& path, bool, boost::system::error_code& error) override
    {
        // CREATE_NEW fails on any existing name, a link included.
        const HANDLE handle = ::CreateFileW(Native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return std::unique_ptr<WritableFile>(new WindowsFile(handle, path));
        error = ErrorCode(::GetLastError());
        return nullptr;
    }

    std::unique_ptr<ScratchFile> CreateScratchFile(const Path& directory) override
    {
        // Deleted by the system when closed, also when the process ends abruptly.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const Path name = directory / boost::filesystem::unique_path("kwpack-scratch-%%%%%%%%");
            const HANDLE handle = ::CreateFileW(Native(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            if (handle != INVALID_HANDLE_VALUE) return std::unique_ptr<ScratchFile>(new WindowsFile(handle, directory));
            if (::GetLastError() != ERROR_FILE_EXISTS) break;
        }
        Raise("cannot create a scratch file in", directory);
    }

    void CopyFileContents(const Path& source, const Path& target) override
    {
        if (!::CopyFileW(Native(source).c_str(), Native(target).c_str(), FALSE))
            throw boost::filesystem::filesystem_error("cannot copy the file", source, target, ErrorCode(::GetLastError()));
    }

    void Rename(const Path& from, const Path& to, bool replace, boost::system::error_code& error) override
    {
        // Without MOVEFILE_COPY_ALLOWED a rename never becomes a copy and a
        // delete; without MOVEFILE_REPLACE_EXISTING it refuses a target.
        error.clear();
        if (replace) ClearReadOnly(Native(to));
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!::MoveFileExW(Native(from).c_str(), Native(to).c_str(), flags)) error = ErrorCode(::GetLastError());
    }

    void HardLink(const Path& existing, const Path& link, boost::system::error_code& error) override
    {
        error.clear();
        if (!::CreateHardLinkW(Native(link).c_str(), Native(existing).c_str(), nullptr))
            error = ErrorCode(::GetLastError());
    }

    void Remove(const Path& path, boost::system::error_code& error) override
    {
        error.clear();
        const DWORD attributes = ::GetFileAttributesW(Native(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD failure = ::GetLastError();
            if (failure != ERROR_FILE_NOT_FOUND && failure != ERROR_PATH_NOT_FOUND) error = ErrorCode(failure);
            return;
        }
        if (attributes & FILE_ATTRIBUTE_READONLY) ClearReadOnly(Native(path));
        const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(Native(path).c_str())
                                                                      : ::DeleteFileW(Native(path).c_str());
        if (!removed) error = ErrorCode(::GetLastError());
    }

    bool FlushesWholeFileSystem() override { return false; }

    void FlushFileSystem(const Path&) override
    {
        // Flushing a whole volume needs administrator rights: the update
        // flushes each file it writes and each directory it changes instead.
    }

    void FlushFile(const Path& path) override
    {
        if (const DWORD error = FlushOpened(path, FILE_ATTRIBUTE_NORMAL)) Raise("cannot flush the file", path, error);
    }

    void FlushDirectory(const Path& path) override
    {
        // Some volumes (FAT, network shares) refuse to flush a directory, or
        // to open one for it: their renames are written through, so there is
        // nothing left to flush.
        const DWORD error = FlushOpened(path, FILE_FLAG_BACKUP_SEMANTICS);
        if (error && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED && error != ERROR_ACCESS_DENIED)
            Raise("cannot flush the directory", path, error);
    }

    std::unique_ptr<FileLock> LockFile(const Path& path) override
    {
        // No sharing: a second open fails until this handle is closed, which
        // the system does when the process ends, however it ends.
        const HANDLE handle = ::CreateFileW(Native(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return std::unique_ptr<FileLock>(new WindowsFileLock(handle));
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return nullptr;
        Raise("cannot lock", path, error);
    }

    bool IsHeldOpen(const Path& path, Use use) override
    {
        // The access the use needs, shared with everyone: only another
        // process's refusal to share it fails. Writing data is asked too when
        // replacing, since a running image refuses that, not delete access.
        const DWORD access = use == Use::kRead ? GENERIC_READ : DELETE | FILE_WRITE_DATA;
        const Handle handle(::CreateFileW(Native(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (handle.Open()) return false;
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    }

    bool StandardErrorIsTerminal() override { return ::_isatty(2) != 0; }
};

} // namespace

Env& Env::Default()
{
    static WindowsEnv env;
    return env;
}

} // namespace updater
} // namespace kw
