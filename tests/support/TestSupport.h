// Helpers shared by the program's, the producer's and the end-to-end tests:
// scratch directories, captured console streams, whole-file reads and
// writes, file times, random bytes and a reference SHA-256 (OpenSSL).
#pragma once

#include "Env.h"

#include <kw/FileTime.h>

#include <boost/filesystem.hpp>

#include <cstdint>
#include <chrono>
#include <iosfwd>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

using kw::FILETIME;

// The system's environment, through which the programs reach the disk.
inline kw::updater::Env& SystemEnv() { return kw::updater::Env::Default(); }

typedef std::vector<unsigned char> Bytes;

// A fresh directory below `base` (the system's temporary directory when
// empty), removed with everything in it at the end of the test.
class TempDir {
public:
    explicit TempDir(const boost::filesystem::path& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const boost::filesystem::path& path() const { return path_; }
    boost::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    boost::filesystem::path path_;
};

// Redirects a stream into a string for the lifetime of the object.
class Capture {
public:
    explicit Capture(std::ostream& stream);
    ~Capture();
    std::string text() const { return buffer_.str(); }

private:
    std::ostream& stream_;
    std::ostringstream buffer_;
    std::streambuf* saved_;
};

// Writes `bytes` as the whole file, creating missing parent directories.
void WriteFile(const boost::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const boost::filesystem::path& path);

// Every entry below `root` by its relative path ('/'-separated): "directory",
// or a file's SHA-256 and modification time in 100-ns ticks. Entries whose
// path is in `skip` are left out with everything below them.
typedef std::map<std::string, std::string> TreeSnapshot;
TreeSnapshot SnapshotTree(const boost::filesystem::path& root, const std::set<std::string>& skip = {});
// The first differences of `actual` from `expected`, one per line; empty
// when they are the same.
std::string TreeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual);
// Copies the tree `from` to `to` (created as needed), contents and
// modification times of files and directories, also from one file system to
// another; the copies' creation times are their own.
void CopyTree(const boost::filesystem::path& from, const boost::filesystem::path& to);

// A FILETIME from a count of 100-ns ticks, and back.
const auto Ticks = kw::FileTimeOf;
using kw::TicksOf;

// Reproducible pseudo-random bytes.
Bytes RandomBytes(std::size_t count, unsigned seed);

// Two lowercase hexadecimal digits per byte.
std::string HexText(const unsigned char* bytes, std::size_t count);

// The SHA-256 text digest as OpenSSL computes it.
std::string OpenSslSha256Text(const std::string& bytes);

struct CommandResult {
    int exit_code = -1; // -1 when the command did not exit normally
    std::string out;    // standard output
    std::string err;    // standard error
    int signal = 0;     // the signal that ended it (POSIX), 0 when it exited
};
// UTF-8 text as the updater's console lines show it: UTF-8 on POSIX, the
// ANSI code page (CP932) on Windows.
std::string ConsoleText(const std::string& utf8);

// True in a Windows test that runs under Wine.
bool UnderWine();
// Why a check of creation times is skipped there.
extern const char kNoCreationTimesUnderWine[];

// A program started with its arguments, no shell between, in `dir` (the
// current directory when empty) with standard input closed and both outputs
// going to files. A program named without a directory is looked up in PATH.
class RunningProgram {
public:
    RunningProgram(const std::vector<std::string>& argv, const boost::filesystem::path& dir = {});
    ~RunningProgram(); // ends the program if it still runs
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Waits until the standard output holds `text`; false when the program
    // ended first or 30 s passed.
    bool WaitForOutput(const std::string& text);
    // Ends the program at once from outside, as a crash would.
    void Kill();
    // Waits for the end: the exit code and both outputs.
    CommandResult Wait();

private:
    bool Ended();
    TempDir scratch_;
    std::intptr_t process_ = -1; // a process id or handle; -1 when none runs
    int exit_code_ = -1, signal_ = 0;
};

// Runs a program to its end (see RunningProgram), capturing both outputs;
// the settings of `environment` ("NAME=value") are added to the inherited
// ones, or replace them.
CommandResult RunProgram(const std::vector<std::string>& argv, const boost::filesystem::path& dir = {},
                         const std::vector<std::string>& environment = {});

// Runs a tool of the Linux build host (bzip2, openssl) like RunProgram; a
// Windows test under Wine starts it through Wine. Give it file names
// relative to `dir`: it cannot read Windows paths. HasHostTools is false
// where no host is around (Windows itself).
CommandResult RunHostTool(const std::vector<std::string>& argv, const boost::filesystem::path& dir);
bool HasHostTools();

// Sets an environment variable for this process and the programs it starts;
// an empty value removes it.
void SetEnvironment(const std::string& name, const std::string& value);

} // namespace testsupport
