// Windows implementation of the platform layer: the kernel32 calls on narrow
// (ANSI code page) paths.
#include "Platform.h"

#include <windows.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include <stdexcept>
#include <string>
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
    BOOL lossy = FALSE;
    BOOL* lossy_flag = code_page == CP_UTF8 ? nullptr : &lossy;
    const int size = ::WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, lossy_flag);
    if (size <= 0 || lossy) throw std::invalid_argument("a name has no form in the narrow code page");
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0], size, nullptr, nullptr);
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

bool FlushesWholeFileSystem() { return false; }

void FlushFileSystem(const boost::filesystem::path&)
{
    // Flushing a whole volume needs administrator rights: the update flushes
    // each file it writes and each directory it changes instead.
}

namespace {

// Opens a file, or a directory (which opens only with backup semantics), for
// writing and flushes its buffers; write access is what FlushFileBuffers needs.
void FlushOpened(const boost::filesystem::path& path, DWORD flags, const char* what)
{
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, flags, nullptr);
    const BOOL flushed = handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle);
    const DWORD error = ::GetLastError();
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    if (!flushed)
        throw boost::filesystem::filesystem_error(
            what, path, boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

} // namespace

void FlushFile(const boost::filesystem::path& path) { FlushOpened(path, FILE_ATTRIBUTE_NORMAL, "cannot flush the file"); }

void FlushDirectory(const boost::filesystem::path& path)
{
    FlushOpened(path.empty() ? boost::filesystem::path(L".") : path, FILE_FLAG_BACKUP_SEMANTICS,
                "cannot flush the directory");
}

std::size_t MaxNameLength(const boost::filesystem::path& dir)
{
    // The volume's own limit, in UTF-16 units; 255 where it cannot be read.
    wchar_t volume[MAX_PATH + 1];
    DWORD limit = 0;
    const boost::filesystem::path absolute = boost::filesystem::absolute(dir);
    if (::GetVolumePathNameW(absolute.c_str(), volume, MAX_PATH + 1) &&
        ::GetVolumeInformationW(volume, nullptr, 0, nullptr, &limit, nullptr, nullptr, 0) && limit > 0)
        return limit;
    return 255;
}

} // namespace platform
