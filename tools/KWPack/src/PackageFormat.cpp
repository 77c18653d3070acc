#include "PackageFormat.h"

#include "PackError.h"

namespace kwpack {

std::uint32_t VersionNumber(const std::string& text)
{
    if (text.size() != 4) throw PackError("version \"" + text + "\" is not four decimal digits");
    std::uint32_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') throw PackError("version \"" + text + "\" is not four decimal digits");
        number = number << 8 | std::uint32_t(c - '0');
    }
    return number;
}

std::string CheckedVersion(const std::string& text)
{
    // A package the updater would refuse as "newer than updater" is useless.
    if (VersionNumber(text) > kNewestVersion)
        throw PackError("version \"" + text + "\" is newer than any updater accepts (at most " + kDefaultVersion + ")");
    return text;
}

std::string MakeHeader(const char* magic, const std::string& version)
{
    return std::string(magic, 4) + CheckedVersion(version);
}

} // namespace kwpack
