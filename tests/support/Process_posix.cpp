// Running programs for the tests on POSIX: fork and exec.
#include "TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace fs = boost::filesystem;

namespace testsupport {

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const fs::path& dir)
{
    const fs::path out = scratch_ / "out", err = scratch_ / "err";
    WriteFile(out, "");
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
    if (child < 0) WriteFile(err, "cannot start " + argv.at(0));
    process_ = child;
}

bool RunningProgram::Ended()
{
    int status = 0;
    if (process_ < 0) return true;
    const pid_t ended = ::waitpid(static_cast<pid_t>(process_), &status, WNOHANG);
    if (ended == 0) return false;
    exit_code_ = ended == process_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    signal_ = ended == process_ && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    process_ = -1;
    return true;
}

void RunningProgram::Kill()
{
    if (process_ < 0) return;
    ::kill(static_cast<pid_t>(process_), SIGKILL);
    Wait();
}

CommandResult RunningProgram::Wait()
{
    // Sleeps until the program ends, leaving it to Ended() to collect.
    siginfo_t end;
    while (!Ended()) ::waitid(P_PID, static_cast<id_t>(process_), &end, WEXITED | WNOWAIT);
    return CommandResult{exit_code_, ReadFile(scratch_ / "out"), ReadFile(scratch_ / "err"), signal_};
}

// The build host is this machine.
CommandResult RunHostTool(const std::vector<std::string>& argv, const fs::path& dir) { return RunProgram(argv, dir); }
bool HasHostTools() { return true; }
bool UnderWine() { return false; }

void SetEnvironment(const std::string& name, const std::string& value)
{
    value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
}

} // namespace testsupport
