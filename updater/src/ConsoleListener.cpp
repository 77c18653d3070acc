#include "ConsoleListener.h"

#include "NativeText.h"

#include <boost/format.hpp>

#include <iostream>

namespace kw {
namespace updater {

void ConsoleListener::BeginStage(int stage)
{
    std::cout << boost::format("Begin Stage %d/%d") % stage % kTotalStages << std::endl;
}

void ConsoleListener::StageCompleted(int stage)
{
    // The first line ends a progress line that the stage left open.
    std::cout << std::endl << boost::format("Stage %d Completed!") % stage << std::endl;
}

void ConsoleListener::Progress(std::uint64_t done, std::uint64_t total)
{
    std::cout << boost::format(" progress: %09d / %09d\r") % done % total << std::flush;
}

void ConsoleListener::ProgressEnded()
{
    std::cout << std::endl;
}

void ConsoleListener::ScriptLine(const std::string& narrow)
{
    std::cout << NarrowToConsole(narrow) << std::endl;
}

void ConsoleListener::BeginUpdate(const std::string& from_utf8, const std::string& to_utf8)
{
    // `to` is only shown, so it never fails the update: the line is built
    // from the script's UTF-8 text.
    std::cout << Utf8ToConsole((boost::format(" begin update: ver%s => ver%s") % from_utf8 % to_utf8).str())
              << std::endl;
}

void ConsoleListener::CleanUpError(const std::string& console_text)
{
    std::cerr << boost::format("Error: %s") % console_text << std::endl;
}

void ConsoleListener::CleanUpFailed(const std::string& package_name_narrow)
{
    std::cerr << "Post porcess was failed." << std::endl;
    std::cerr << boost::format("You can delete '.update', '.backup' and '%s' manually.") %
                     NarrowToConsole(package_name_narrow)
              << std::endl;
}

} // namespace updater
} // namespace kw
