// Entry point of KWPack, the update package producer.
#include "Cli.h"

#ifdef _WIN32
#include <boost/filesystem/detail/utf8_codecvt_facet.hpp>
#include <boost/filesystem/path.hpp>

#include <locale>

#include <windows.h>
#include <shellapi.h>

// Windows hands narrow arguments over in the ANSI code page, which cannot
// carry every name: read the wide command line and work in UTF-8 throughout,
// as on Linux, with paths converting their text as UTF-8.
int main()
{
    boost::filesystem::path::imbue(std::locale(std::locale(), new boost::filesystem::detail::utf8_codecvt_facet));
    ::SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i) args.push_back(boost::filesystem::path(wide[i]).string());
    ::LocalFree(wide);
    return kwpack::RunCommandLine(args);
}
#else
int main(int argc, char** argv)
{
    return kwpack::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
