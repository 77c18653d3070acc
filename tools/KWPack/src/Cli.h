// The command line of KWPack: subcommands keygen, script, build, make and
// inspect, each with --help.
#pragma once

#include <string>
#include <vector>

namespace kwpack {

// Runs one command line (without the program name); returns the exit code:
// 0 on success, 1 on a failure, 2 on a usage error.
int RunCommandLine(const std::vector<std::string>& args);

} // namespace kwpack
