#include "SafeName.h"

namespace safename {

namespace {

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
