#include "TestSupport.h"

#include "KeyGen.h"

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = boost::filesystem;

namespace kwpack_test {
namespace {

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

TempDir::TempDir()
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::path(KWPACK_TEST_TMP) / (std::string(info ? info->test_suite_name() : "shared") + "." +
                                         (info ? info->name() : "key") + "." + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TempDir::~TempDir()
{
    boost::system::error_code ec;
    fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path.string(), std::ios::binary);
    out << content;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

FILETIME Ticks(std::uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = std::uint32_t(ticks);
    time.dwHighDateTime = std::uint32_t(ticks >> 32);
    return time;
}

std::uint64_t TicksOf(const FILETIME& time)
{
    return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

int Shell(const std::string& command)
{
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult RunKWPack(const std::vector<std::string>& args, const std::string& prefix)
{
    static int counter = 0;
    const fs::path base = fs::path(KWPACK_TEST_TMP) / ("run." + std::to_string(::getpid()) + "." + std::to_string(counter++));
    fs::create_directories(base.parent_path());
    std::string command = prefix + " " + Quote(KWPACK_EXE);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote(base.string() + ".out") + " 2>" + Quote(base.string() + ".err") + " </dev/null";
    RunResult result{Shell(command), ReadFile(base.string() + ".out"), ReadFile(base.string() + ".err")};
    fs::remove(base.string() + ".out");
    fs::remove(base.string() + ".err");
    return result;
}

const TestKey& SharedKey()
{
    // Made on first use and removed when the test program ends.
    struct Holder {
        fs::path dir = fs::path(KWPACK_TEST_TMP) / ("key." + std::to_string(::getpid()));
        TestKey key{dir / "private.pem", dir / "lmfile"};
        Holder()
        {
            fs::create_directories(dir);
            kwpack::GenerateKeyFiles(key.pem, key.key_file, 1024, true);
        }
        ~Holder()
        {
            boost::system::error_code ec;
            fs::remove_all(dir, ec);
        }
    };
    static const Holder holder;
    return holder.key;
}

} // namespace kwpack_test
