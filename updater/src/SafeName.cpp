#include "SafeName.h"

#include <map>

namespace safename {

namespace {

// The upper case of one character, as NTFS maps it (1:1, no special cases).
char32_t UpperCase(char32_t c)
{
    if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
        return c - 0x20; // Latin, Latin-1, Greek, Cyrillic, full-width Latin
    if (c == 0x3C2) return 0x3A3;                               // final sigma
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;              // Cyrillic with marks
    if (c >= 0x2170 && c <= 0x217F) return c - 0x10;            // small Roman numerals
    if (c >= 0x24D0 && c <= 0x24E9) return c - 0x1A;            // circled letters
    return c;
}

void AppendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Windows opens a device instead of a file for these names, whatever
// extension follows and whatever spaces stand before the first dot.
bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    const std::string prefix = base.substr(0, 3);
    return base.size() == 4 && (prefix == "COM" || prefix == "LPT") && base[3] >= '1' && base[3] <= '9';
}

} // namespace

std::string FoldCase(const std::string& name)
{
    std::string folded;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        // Only characters of up to three bytes change; others pass as they are.
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (length == 4 || i + length > name.size()) {
            folded.append(name, i, length);
            i += length;
            continue;
        }
        char32_t c = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(name[i + k]) & 0x3F);
        AppendUtf8(UpperCase(c), folded);
        i += length;
    }
    return folded;
}

bool FindCaseTwins(const std::vector<std::string>& names, std::size_t& first, std::size_t& second)
{
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto found = seen.emplace(FoldCase(names[i]), i);
        if (found.second) continue;
        first = found.first->second;
        second = i;
        return true;
    }
    return false;
}

const char* ComponentProblem(const std::string& component)
{
    if (component.empty()) return "is empty";
    if (component == ".") return "is \".\"";
    if (component == "..") return "is \"..\"";
    for (const char c : component) {
        switch (c) {
        case '/': return "holds '/'";
        case '\\': return "holds '\\'";
        case ':': return "holds ':' (a drive or a stream)";
        case '\0': return "holds a NUL byte";
        case '<': return "holds '<', which Windows refuses in names";
        case '>': return "holds '>', which Windows refuses in names";
        case '"': return "holds '\"', which Windows refuses in names";
        case '|': return "holds '|', which Windows refuses in names";
        case '?': return "holds '?', which Windows refuses in names";
        case '*': return "holds '*', which Windows refuses in names";
        default:
            // Bytes of multi-byte UTF-8 characters are 0x80 or above, never control characters.
            if (c > '\0' && c < ' ') return "holds a control character, which Windows refuses in names";
            break;
        }
    }
    // Windows drops a trailing dot or space, so the file would get another name.
    if (component.back() == '.') return "ends in a dot, which Windows drops from names";
    if (component.back() == ' ') return "ends in a space, which Windows drops from names";
    if (IsDeviceName(component))
        return "is a device name of Windows (CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9, with or without an extension)";
    return nullptr;
}

const char* RelativePathProblem(const std::string& path)
{
    if (path.empty()) return "is empty";
    std::string::size_type begin = 0;
    for (;;) {
        const std::string::size_type end = path.find('/', begin);
        const std::string component = path.substr(begin, end == std::string::npos ? end : end - begin);
        if (component.empty()) return "has an empty component";
        if (component == "." || component == "..") return "has a \".\" or \"..\" component";
        if (const char* problem = ComponentProblem(component)) return problem;
        if (end == std::string::npos) return nullptr;
        begin = end + 1;
    }
}

std::string DropLeadingSlash(const std::string& path)
{
    return !path.empty() && path[0] == '/' ? path.substr(1) : path;
}

std::string DropTrailingSlash(const std::string& path)
{
    const std::string::size_type n = path.size();
    return n >= 2 && path[n - 1] == '/' && path[n - 2] != '/' ? path.substr(0, n - 1) : path;
}

} // namespace safename
