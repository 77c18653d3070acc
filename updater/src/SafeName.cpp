#include "SafeName.h"

namespace safename {

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
        default: break;
        }
    }
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

std::string DropTrailingSlash(const std::string& path)
{
    const std::string::size_type n = path.size();
    return n >= 2 && path[n - 1] == '/' && path[n - 2] != '/' ? path.substr(0, n - 1) : path;
}

} // namespace safename
