#include "PackTestSupport.h"

#include "KeyGen.h"

#include <boost/filesystem/operations.hpp>

namespace fs = boost::filesystem;

namespace kwpack_test {

int Shell(const std::string& command)
{
    return testsupport::RunCommand(command).exit_code;
}

RunResult RunKWPack(const std::vector<std::string>& args, const std::string& prefix)
{
    std::string command = prefix + " " + testsupport::ShellQuote(KWPACK_EXE);
    for (const std::string& arg : args) command += " " + testsupport::ShellQuote(arg);
    return testsupport::RunCommand(command);
}

const TestKey& SharedKey()
{
    // Made on first use and removed when the test program ends.
    struct Holder {
        TempDir dir;
        TestKey key{dir / "private.pem", dir / "lmfile"};
        Holder() { kwpack::GenerateKeyFiles(key.pem, key.key_file, 1024, true); }
    };
    static const Holder holder;
    return holder.key;
}

} // namespace kwpack_test
