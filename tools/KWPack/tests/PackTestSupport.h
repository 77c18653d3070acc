// Helpers of the producer's tests: the shared test helpers, running the
// built KWPack, and one key pair per test program.
#pragma once

#include "SourceTree.h"
#include "TestSupport.h"

#include <boost/filesystem/path.hpp>

#include <openssl/evp.h>

#include <string>
#include <vector>

namespace kwpack_test {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Ticks;
using testsupport::TicksOf;
using testsupport::WriteFile;
typedef testsupport::CommandResult RunResult;

// Runs the built KWPack with the arguments, optionally behind a command
// such as a privilege drop.
RunResult RunKWPack(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {});

// The PEM private key at `pem` through OpenSSL; nullptr when unreadable.
EVP_PKEY* ReadPrivateKey(const boost::filesystem::path& pem);

// A 1024-bit key pair made once per test program (key generation is slow).
struct TestKey {
    boost::filesystem::path pem;
    boost::filesystem::path key_file;
};
const TestKey& SharedKey();

} // namespace kwpack_test
