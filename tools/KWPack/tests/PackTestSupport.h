// Helpers of the producer's tests: the shared test helpers, running the
// built KWPack, and one key pair per test program.
#pragma once

#include "SourceTree.h"
#include "TestSupport.h"

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace kwpack_test {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Ticks;
using testsupport::TicksOf;
using testsupport::WriteFile;
typedef testsupport::CommandResult RunResult;

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
