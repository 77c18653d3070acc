// POSIX text conversions: native file names, arguments and the terminal are
// UTF-8; the program's narrow text is CP932 and is converted here.
#include "NativeText.h"

#include <kw/KWConvert.h>

namespace kw {
namespace updater {
namespace {

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

} // namespace

boost::filesystem::path NarrowToPath(const std::string& narrow)
{
    return boost::filesystem::path(IsAscii(narrow) ? narrow : kw::ConvertSjisToUtf8(narrow));
}

std::string PathToNarrow(const boost::filesystem::path& path)
{
    const std::string& native = path.native();
    if (IsAscii(native)) return native;
    std::string narrow;
    kw::ConvertUtf8ToSjis(native, narrow, kw::default_appender());
    return narrow;
}

std::string ArgumentToNarrow(const char* argument)
{
    return PathToNarrow(boost::filesystem::path(argument));
}

std::string NarrowToConsole(const std::string& narrow)
{
    if (IsAscii(narrow)) return narrow;
    try {
        return kw::ConvertSjisToUtf8(narrow);
    } catch (const std::exception&) {
        return narrow; // Show the bytes rather than lose the message.
    }
}

std::string NativeToConsole(const std::string& native) { return native; }
std::string Utf8ToConsole(const std::string& utf8) { return utf8; }

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

} // namespace updater
} // namespace kw
