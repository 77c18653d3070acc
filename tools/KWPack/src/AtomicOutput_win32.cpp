// The Windows side of the atomic outputs: exclusively created sibling names,
// FlushFileBuffers, MoveFileEx (which refuses an existing target unless told
// to replace it), and scratch files deleted by the system when closed.
#include "AtomicOutput.h"

#include "PackError.h"

#include <boost/filesystem/operations.hpp>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

std::string SystemText(const std::string& what, const fs::path& path, DWORD error = ::GetLastError())
{
    return what + " " + path.string() + ": " +
           boost::system::error_code(static_cast<int>(error), boost::system::system_category()).message();
}

// A sibling name that says what it is, unused a moment ago.
fs::path TempName(const fs::path& target)
{
    fs::path name = target;
    return name += fs::unique_path(".kwtmp-%%%%%%%%");
}

// A C stream over a new file opened with `flags`; tries fresh names until one is free.
std::FILE* CreateExclusive(const fs::path& base, bool sibling, DWORD flags, fs::path& created, const char* what)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        created = sibling ? TempName(base) : base / fs::unique_path("kwpack-scratch-%%%%%%%%");
        const HANDLE handle = ::CreateFileW(created.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            throw PackError(SystemText(what, base));
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
        std::FILE* file = fd < 0 ? nullptr : ::_fdopen(fd, "w+b");
        if (file) return file;
        if (fd < 0) ::CloseHandle(handle); else ::_close(fd);
        ::DeleteFileW(created.c_str());
        throw PackError(SystemText("cannot open", created));
    }
    throw PackError(SystemText(what, base, ERROR_FILE_EXISTS));
}

fs::path CreateSiblingDirectory(const fs::path& target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path name = TempName(target);
        if (::CreateDirectoryW(name.c_str(), nullptr)) return name;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw PackError(SystemText("cannot create a directory next to", target));
}

} // namespace

AtomicFile::AtomicFile(const fs::path& target, bool overwrite, mode_t)
    : target_(target), file_(nullptr), overwrite_(overwrite)
{
    RefuseExisting(target, overwrite);
    file_ = CreateExclusive(target, true, 0, temp_, "cannot create a file next to");
}

AtomicFile::~AtomicFile()
{
    if (file_) {
        std::fclose(file_);
        ::DeleteFileW(temp_.c_str());
    }
}

void AtomicFile::Write(const void* data, std::size_t size)
{
    if (size && std::fwrite(data, 1, size, file_) != size) throw PackError(SystemText("cannot write", temp_));
}

void AtomicFile::Commit()
{
    const bool flushed = std::fflush(file_) == 0 &&
                         ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file_))));
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0 || !flushed) {
        ::DeleteFileW(temp_.c_str());
        throw PackError(SystemText("cannot write", temp_));
    }
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a target that
    // appeared meanwhile, so nothing is ever replaced without --force.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite_ ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(temp_.c_str(), target_.c_str(), flags)) return;
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temp_.c_str());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        throw PackError(target_.string() + " exists; use --force to replace it");
    throw PackError(SystemText("cannot create", target_, error));
}

AtomicDirectory::AtomicDirectory(const fs::path& target, bool overwrite) : target_(target), overwrite_(overwrite)
{
    RefuseExisting(target, overwrite);
    temp_ = CreateSiblingDirectory(target);
}

ScratchDirectory::ScratchDirectory(const fs::path& beside) : path_(CreateSiblingDirectory(beside)) {}

ScratchFile::ScratchFile(const fs::path& directory)
{
    // Deleted by the system when closed, also when the process ends abruptly.
    fs::path name;
    file_ = CreateExclusive(directory, false, FILE_FLAG_DELETE_ON_CLOSE, name, "cannot create a scratch file in");
}

} // namespace kwpack
