// Windows text conversions between the ANSI code page (932), UTF-16 paths
// and UTF-8, each exact or refused.
#include "NativeText.h"

#include <windows.h>
#include <shellapi.h>

#include <boost/filesystem/detail/utf8_codecvt_facet.hpp>

#include <locale>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kw {
namespace updater {
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

std::vector<std::string> Utf8Arguments(int, char**)
{
    // Narrow arguments arrive in the ANSI code page, which cannot carry
    // every name: read the wide command line, and let paths convert their
    // text as UTF-8 and the console show it.
    boost::filesystem::path::imbue(std::locale(std::locale(), new boost::filesystem::detail::utf8_codecvt_facet));
    ::SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    const std::unique_ptr<wchar_t*, HLOCAL (*)(HLOCAL)> wide(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                           &::LocalFree);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(boost::filesystem::path(wide.get()[i]).string());
    return arguments;
}

} // namespace updater
} // namespace kw
