#include "ChildRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace fs = boost::filesystem;

namespace crash {
namespace {

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                     const fs::path& scratch)
{
    const fs::path out = scratch / "child.out";
    const fs::path err = scratch / "child.err";

    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        // Overridden settings are dropped from the inherited environment.
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? static_cast<std::size_t>(eq - *e) : std::strlen(*e));
        bool overridden = false;
        for (const std::string& extra : extra_env) overridden = overridden || extra.compare(0, name.size() + 1, name + "=") == 0;
        if (!overridden) env_text.push_back(*e);
    }
    env_text.insert(env_text.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp, args;
    for (std::string& e : env_text) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (std::string& a : argv_copy) args.push_back(&a[0]);
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawned));

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    ChildResult result;
    if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = Slurp(out);
    result.err = Slurp(err);
    return result;
}

std::vector<std::string> ShimEnvironment(const std::vector<std::string>& settings)
{
    std::vector<std::string> env{std::string("LD_PRELOAD=") + KW_FAULT_SHIM, "KW_SHIM_NO_SYNC=1"};
#ifdef KW_CRASH_SANITIZED
    // The preloaded library comes before the sanitizer's runtime; it forwards
    // every call, so the sanitizer's interceptors still run.
    const char* options = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (options && *options ? std::string(options) + ":" : std::string()) +
                  "verify_asan_link_order=0");
#endif
    env.insert(env.end(), settings.begin(), settings.end());
    return env;
}

} // namespace crash
