// The program's policy for names that come from a package: a name must stay
// inside the directory it is placed in, and Windows must be able to hold it,
// on every host, since packages are made for Windows installations. The checks take decoded text (UTF-8
// here), never CP932 bytes, whose second byte of a double-byte character may
// be 0x5C without being a backslash.
#pragma once

#include <string>

namespace safename {

// Why `component` cannot name one entry of a directory, or nullptr when it
// can: it is empty, "." or "..", or holds '/', '\\', ':' or a NUL byte; or
// Windows cannot hold it: it ends in a dot or space, is a device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with any extension, in any case) or holds
// one of <>"|?* or a control character. Look-alikes such as "..x" or "a..b"
// are ordinary names; "..." ends in a dot.
const char* ComponentProblem(const std::string& component);

// Why the relative path `path` (components separated by '/') cannot name an
// entry below a directory, or nullptr when it can: it is empty, or one of its
// components has a problem of ComponentProblem (so no "..", no drive, no
// backslash, no doubled or trailing '/').
const char* RelativePathProblem(const std::string& path);

// `path` without one leading '/', which script paths may carry.
std::string DropLeadingSlash(const std::string& path);

} // namespace safename
