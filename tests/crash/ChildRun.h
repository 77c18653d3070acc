// Runs a program as a child process with standard input closed, its output
// captured, and extra environment variables (those of the preloaded fault
// library: the program itself reads none).
#pragma once

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace crash {

// The signal a killed child reports (SIGKILL), also for a run stopped in
// this process, where no signal is involved.
constexpr int kKillSignal = 9;

struct ChildResult {
    int code = -1;   // exit code, -1 when killed by a signal
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
};

ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                     const boost::filesystem::path& scratch);

// The environment that loads the fault library into the child, plus `settings`.
std::vector<std::string> ShimEnvironment(const std::vector<std::string>& settings);

} // namespace crash
