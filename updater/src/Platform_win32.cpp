// Windows implementation of the platform layer: the kernel32 calls on narrow
// (ANSI code page) paths.
#include "Platform.h"

#include <windows.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include <stdexcept>
#include <vector>

namespace platform {
namespace {

std::wstring Widen(const std::string& text, UINT code_page)
{
    if (text.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) throw std::invalid_argument("cannot convert \"" + text + "\" to wide text");
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT code_page)
{
    if (wide.empty()) return std::string();
    // No best-fit replacements, and the text must come back as it was.
    BOOL lossy = FALSE;
    BOOL* lossy_flag = code_page == CP_UTF8 ? nullptr : &lossy;
    const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = ::WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, lossy_flag);
    if (size <= 0 || lossy) throw std::invalid_argument("a name has no form in the narrow code page");
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), &narrow[0], size, nullptr, nullptr);
    if (Widen(narrow, code_page) != wide) throw std::invalid_argument("a name has no exact form in the narrow code page");
    return narrow;
}

} // namespace

bool CreateOneDirectory(const std::string& narrow_path)
{
    return ::CreateDirectoryA(narrow_path.c_str(), nullptr) != 0;
}

bool SetHiddenOnly(const std::string& narrow_path)
{
    return ::SetFileAttributesA(narrow_path.c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

struct FileHandle::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

FileHandle::FileHandle(const std::string& narrow_path, Access access, bool backup_semantics) : state_(new State)
{
    state_->handle = ::CreateFileA(narrow_path.c_str(), access == Write ? GENERIC_WRITE : GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   backup_semantics ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
}

FileHandle::~FileHandle()
{
    if (state_->handle != INVALID_HANDLE_VALUE) ::CloseHandle(state_->handle);
    delete state_;
}

bool FileHandle::IsOpen() const { return state_->handle != INVALID_HANDLE_VALUE; }

bool FileHandle::GetTimes(FILETIME* created, FILETIME* modified) const
{
    return IsOpen() && ::GetFileTime(state_->handle, created, nullptr, modified) != 0;
}

bool FileHandle::SetTimes(const FILETIME* created, const FILETIME* modified)
{
    return IsOpen() && ::SetFileTime(state_->handle, created, nullptr, modified) != 0;
}

boost::filesystem::path NarrowToPath(const std::string& narrow)
{
    return boost::filesystem::path(Widen(narrow, CP_ACP));
}

std::string PathToNarrow(const boost::filesystem::path& path)
{
    return Narrow(path.native(), CP_ACP);
}

std::string ArgumentToNarrow(const char* argument)
{
    return argument; // The argument already arrives in the ANSI code page.
}

std::string NarrowToConsole(const std::string& narrow)
{
    return narrow; // The console uses the same code page.
}

void CopyFileContents(const boost::filesystem::path& source, const boost::filesystem::path& target)
{
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
        throw boost::filesystem::filesystem_error(
            "cannot copy the file", source, target,
            boost::system::error_code(static_cast<int>(::GetLastError()), boost::system::system_category()));
}

void FlushFileSystem(const boost::filesystem::path&)
{
    // Each placed file was flushed by FlushFileIfNeeded before its rename.
}

void FlushFileIfNeeded(const boost::filesystem::path& path)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a written file to flush it");
    const BOOL flushed = ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
    if (!flushed) throw std::runtime_error("cannot flush a written file");
}

bool PathTooLong(const boost::filesystem::path& path, bool directory)
{
    return boost::filesystem::absolute(path).native().size() >= (directory ? 248u : MAX_PATH);
}

bool IsHeldOpen(const boost::filesystem::path& path)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return false;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace platform
