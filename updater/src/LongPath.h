// The path form that the wide Windows calls take at any length: absolute,
// with the prefix \\?\ (\\?\UNC\server\share\... for shares). The prefix
// turns off Windows' own normalisation, so this does it: separators become
// backslashes, repeated ones collapse, and "." and ".." components go. A
// trailing dot or space in a component stays as it is (the safe-name check
// refuses such names before they get here). Plain text, on every host.
#pragma once

#include <string>

namespace kw {
namespace updater {

// `path` resolved against `current_directory` (an absolute path with a
// drive) when it is relative; a path with the prefix already stays as it is.
std::wstring ExtendedLengthPath(const std::wstring& path, const std::wstring& current_directory);

} // namespace updater
} // namespace kw
