// Windows implementation of the platform layer: the kernel32 calls on narrow
// (ANSI code page) paths.
#include "Platform.h"

#include <windows.h>
#include <shellapi.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {
namespace {

// Plain conversions; false when the text has no form in the target.
bool ToWide(const std::string& text, UINT code_page, std::wstring& wide)
{
    wide.clear();
    if (text.empty()) return true;
    const int size = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return false;
    wide.assign(static_cast<size_t>(size), L'\0');
    return ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0],
                                 size) == size;
}

bool ToNarrow(const std::wstring& wide, UINT code_page, std::string& narrow)
{
    narrow.clear();
    if (wide.empty()) return true;
    // No best fit (U+301C must not quietly become another character), and
    // any default character used is a failure. UTF-8 takes neither setting.
    const bool utf8 = code_page == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossy_flag = utf8 ? nullptr : &lossy;
    const int size = ::WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, lossy_flag);
    if (size <= 0 || lossy) return false;
    narrow.assign(static_cast<size_t>(size), '\0');
    return ::WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), &narrow[0], size,
                                 nullptr, lossy_flag) == size &&
           !lossy;
}

// Text as well as the ANSI code page can show it (best fit, then '?'): for
// display only, never for a name.
std::string Shown(const std::wstring& wide)
{
    const int length = static_cast<int>(wide.size());
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string shown(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), length, &shown[0], size, nullptr, nullptr);
    return shown;
}

// Each direction must come back the same: a character with two narrow codes,
// or two characters with one, would silently name another file.
std::wstring Widen(const std::string& text, UINT code_page)
{
    std::wstring wide;
    std::string back;
    if (!ToWide(text, code_page, wide) || !ToNarrow(wide, code_page, back) || back != text)
        throw std::invalid_argument("cannot convert \"" + text + "\" to wide text exactly");
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT code_page)
{
    std::string narrow;
    std::wstring back;
    if (!ToNarrow(wide, code_page, narrow) || !ToWide(narrow, code_page, back) || back != wide)
        throw std::invalid_argument("cannot convert \"" + Shown(wide) + "\" to the narrow code page exactly");
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
    // The C runtime hands arguments over best fit (U+301C arrives as the code
    // of U+FF5E): convert the wide argument it came from exactly instead, so
    // that a name without an exact form is refused rather than changed.
    int count = 0;
    const std::unique_ptr<wchar_t*, HLOCAL (*)(HLOCAL)> wide(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                           &::LocalFree);
    for (int i = 1; wide && i < count; ++i)
        if (Shown(wide.get()[i]) == argument) return Narrow(wide.get()[i], CP_ACP);
    return argument; // not from this process's command line
}

std::string NarrowToConsole(const std::string& narrow)
{
    return narrow; // The console uses the same code page.
}

std::string NativeToConsole(const std::string& native)
{
    return native; // The system's narrow texts are in the ANSI code page too.
}

std::string Utf8ToConsole(const std::string& utf8)
{
    std::wstring wide;
    return ToWide(utf8, CP_UTF8, wide) ? Shown(wide) : utf8;
}

void CopyFileContents(const boost::filesystem::path& source, const boost::filesystem::path& target)
{
    if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
        throw boost::filesystem::filesystem_error(
            "cannot copy the file", source, target,
            boost::system::error_code(static_cast<int>(::GetLastError()), boost::system::system_category()));
}

void OpenNewFile(const boost::filesystem::path& path, std::ofstream& out)
{
    // CREATE_NEW fails on any existing name, a link included; the stream
    // then opens the file just made, without truncating anything else.
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(handle);
    out.open(path.c_str(), std::ios::binary | std::ios::out | std::ios::app);
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

std::size_t MaxNameLength(const boost::filesystem::path&)
{
    // NTFS, FAT32, exFAT and ReFS all hold 255 UTF-16 units. Asking the volume
    // costs two calls for every working name, and Wine cannot answer for a
    // Linux folder.
    return 255;
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
