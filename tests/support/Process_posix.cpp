// Running programs for the tests on POSIX: fork and exec, or the shell.
#include "TestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace fs = boost::filesystem;

namespace testsupport {
namespace {

CommandResult ResultOf(int status, const fs::path& out, const fs::path& err)
{
    return CommandResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

} // namespace

CommandResult RunProgram(const std::vector<std::string>& argv, const fs::path& dir)
{
    const TempDir scratch;
    const fs::path out = scratch / "out", err = scratch / "err";
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int in_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
            ::dup2(err_fd, 2) < 0 || (!dir.empty() && ::chdir(dir.c_str()) != 0))
            ::_exit(126);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return CommandResult{-1, "", "cannot start " + argv[0]};
    return ResultOf(status, out, err);
}

CommandResult RunHostTool(const std::vector<std::string>& argv, const fs::path& dir)
{
    return RunProgram(argv, dir);
}

bool HasHostTools()
{
    return true;
}

bool UnderWine()
{
    return false;
}

CommandResult RunCommand(const std::string& command)
{
    const TempDir scratch;
    const fs::path out = scratch / "out", err = scratch / "err";
    const std::string line = "( " + command + " ) >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) +
                             " </dev/null";
    return ResultOf(std::system(line.c_str()), out, err);
}

} // namespace testsupport
