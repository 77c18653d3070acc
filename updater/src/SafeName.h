// The program's policy for names that come from a package: a name must stay
// inside the directory it is placed in, and, since packages are made for
// Windows installations, be a name that Windows can hold, on every host. The
// checks take decoded text (UTF-8 here), never CP932 bytes, whose second
// byte of a double-byte character may be 0x5C without being a backslash.
#pragma once

#include <string>
#include <vector>

namespace safename {

// Why `component` cannot name one entry of a directory, or nullptr when it
// can: it is empty, "." or "..", holds '/', '\\', ':', a NUL byte, one of
// <>"|?* or a control character, ends in a dot or a space, or is a device
// name of Windows (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case,
// with or without an extension). Look-alikes such as "..x", "a..b" or
// "COM10" are ordinary names; "..." ends in a dot.
const char* ComponentProblem(const std::string& component);

// Why the relative path `path` (components separated by '/') cannot name an
// entry below a directory, or nullptr when it can: it is empty, or one of its
// components has a problem of ComponentProblem (so no "..", no drive, no
// backslash, no doubled or trailing '/').
const char* RelativePathProblem(const std::string& path);

// `name` (UTF-8) upper-cased as Windows compares names (NTFS's upcase
// table) for every letter a CP932 name can hold: Latin, full-width Latin,
// Greek, Cyrillic and the Roman numerals. Two names with one folded form
// name one entry on Windows.
std::string FoldCase(const std::string& name);

// The positions of the first two names in `names` (UTF-8) that Windows
// cannot tell apart, or false when there are none.
bool FindCaseTwins(const std::vector<std::string>& names, std::size_t& first, std::size_t& second);

// `path` without one leading '/', which script paths may carry.
std::string DropLeadingSlash(const std::string& path);
// `path` without one trailing '/' ("bin/" names the directory "bin"); "/"
// and a doubled '/' stay as they are.
std::string DropTrailingSlash(const std::string& path);

} // namespace safename
