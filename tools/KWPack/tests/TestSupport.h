// Helpers of the producer's tests: scratch directories, files with chosen
// times, running the built KWPack, and reading files back.
#pragma once

#include "SourceTree.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace kwpack_test {

// A fresh directory under the build tree, removed at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const boost::filesystem::path& path() const { return path_; }
    boost::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    boost::filesystem::path path_;
};

// Writes `content` to `path`, creating parent directories.
void WriteFile(const boost::filesystem::path& path, const std::string& content);
std::string ReadFile(const boost::filesystem::path& path);

// A FILETIME from a count of 100-ns ticks.
FILETIME Ticks(std::uint64_t ticks);
std::uint64_t TicksOf(const FILETIME& time);

struct RunResult {
    int exit_code;
    std::string out;  // standard output
    std::string err;  // standard error
};
// Runs the built KWPack with the arguments (each quoted for the shell),
// optionally prefixed by a command such as a privilege drop.
RunResult RunKWPack(const std::vector<std::string>& args, const std::string& prefix = "");
// Runs a shell command; returns its exit status.
int Shell(const std::string& command);

// A 1024-bit key pair made once per test program (key generation is slow).
struct TestKey {
    boost::filesystem::path pem;
    boost::filesystem::path key_file;
};
const TestKey& SharedKey();

} // namespace kwpack_test
