#include "SafeName.h"

#include <cctype>

namespace safename {
namespace {

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices on Windows, in any
// case and with any extension.
bool IsDeviceName(const std::string& component)
{
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
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
        case '<': case '>': case '"': case '|': case '?': case '*':
            return "holds one of <>\"|?* (Windows cannot hold it)";
        default:
            if (static_cast<unsigned char>(c) < 0x20) return "holds a control character (Windows cannot hold it)";
            break;
        }
    }
    // Windows drops a trailing dot or space, so the name would become another.
    if (component.back() == '.' || component.back() == ' ')
        return "ends in a dot or space (Windows cannot hold it)";
    if (IsDeviceName(component)) return "is a device name (Windows cannot hold it)";
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
        // What is left can only be a backslash, a drive or a NUL byte.
        if (const char* problem = ComponentProblem(component)) return problem;
        if (end == std::string::npos) return nullptr;
        begin = end + 1;
    }
}

std::string DropLeadingSlash(const std::string& path)
{
    return !path.empty() && path[0] == '/' ? path.substr(1) : path;
}

} // namespace safename
