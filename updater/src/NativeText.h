// Narrow text, native paths and the console's text. The program's narrow
// text is CP932 (its ANSI code page) on every host; native paths are UTF-8
// bytes on POSIX and UTF-16 on Windows. One implementation per system.
#pragma once

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace kw {
namespace updater {

// Narrow (CP932) text to a native path and back; text without a form in the
// other encoding, or whose conversion does not come back the same (two
// characters with one code, one character with two), raises
// std::invalid_argument naming it.
boost::filesystem::path NarrowToPath(const std::string& narrow);
std::string PathToNarrow(const boost::filesystem::path& path);

// The command-line argument (locale encoding) as narrow text.
std::string ArgumentToNarrow(const char* argument);
// Narrow text in the terminal's encoding, for console lines.
std::string NarrowToConsole(const std::string& narrow);
// Native text (file names, the texts of the system's and the file-system
// library's errors) in the terminal's encoding.
std::string NativeToConsole(const std::string& native);
// UTF-8 text that is only shown, as well as the terminal can show it; never
// fails.
std::string Utf8ToConsole(const std::string& utf8);

// For a program that works in UTF-8 throughout (KWPack): paths take narrow
// text as UTF-8, the console shows UTF-8, and the arguments after the
// program's name arrive as UTF-8, whatever the system's code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

} // namespace updater
} // namespace kw
