#include "LongPath.h"

#include <cwctype>
#include <vector>

namespace kw {
namespace updater {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsUnc(const std::wstring& path) { return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]); }

bool HasDrive(const std::wstring& path) { return path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0]); }

// The components of `text`, split at either separator, empty ones dropped.
std::vector<std::wstring> Split(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : text + L'\\') {
        if (!IsSeparator(c)) {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    return parts;
}

// `path` made absolute: "C:\x" and "\\server\share\x" are; "C:x" is relative
// to the current directory when that is on drive C:, else to C:'s root; "\x"
// to the current directory's root; "x" to the current directory.
std::wstring Absolute(const std::wstring& path, const std::wstring& current)
{
    if (IsUnc(path) || (HasDrive(path) && path.size() > 2 && IsSeparator(path[2]))) return path;
    if (HasDrive(path)) {
        const bool same_drive = HasDrive(current) && std::towupper(current[0]) == std::towupper(path[0]);
        return (same_drive ? current : path.substr(0, 2)) + L"\\" + path.substr(2);
    }
    if (!path.empty() && IsSeparator(path[0])) {
        if (!IsUnc(current)) return current.substr(0, 2) + path;
        const std::vector<std::wstring> parts = Split(current);
        return L"\\\\" + parts.at(0) + L"\\" + parts.at(1) + path;
    }
    return current + L"\\" + path;
}

} // namespace

std::wstring ExtendedLengthPath(const std::wstring& path, const std::wstring& current_directory)
{
    static const std::wstring kPrefix = L"\\\\?\\";
    if (path.compare(0, kPrefix.size(), kPrefix) == 0) return path;
    const std::wstring absolute = Absolute(path, current_directory);
    const std::vector<std::wstring> parts = Split(IsUnc(absolute) ? absolute : absolute.substr(2));
    // The root: the drive, or the server and the share; ".." never leaves it.
    const std::size_t kept = IsUnc(absolute) ? 2 : 0;
    std::wstring result = kPrefix + (IsUnc(absolute) ? L"UNC" : absolute.substr(0, 2));
    std::vector<std::wstring> below;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i < kept) {
            result += L"\\" + parts[i];
        } else if (parts[i] == L"..") {
            if (!below.empty()) below.pop_back();
        } else if (parts[i] != L".") {
            below.push_back(parts[i]);
        }
    }
    for (const std::wstring& part : below) result += L"\\" + part;
    if (below.empty() && !kept) result += L"\\"; // a drive's root
    return result;
}

} // namespace updater
} // namespace kw
