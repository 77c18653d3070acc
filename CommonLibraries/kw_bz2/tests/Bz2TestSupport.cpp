#include "Bz2TestSupport.h"

#include "TestSupport.h"


#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace kw_bz2_test {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

kw::bz2::Bz2Sink Recorder::Sink()
{
    return [this](const void* data, unsigned count) {
        ++calls;
        if (count == 0) ++emptyCalls;
        if (count > largestPiece) largestPiece = count;
        bytes.append(static_cast<const char*>(data), count);
    };
}

bool RunBzip2(const std::string& options, const std::string& input, const std::string& output)
{
    const std::string command = "bzip2 " + options + " < '" + input + "' > '" + output + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

std::string ToolCompress(const std::string& plain, const std::string& options)
{
    TempDir dir;
    WriteFile(dir / "plain", plain);
    if (!RunBzip2("-c " + options, (dir / "plain").string(), (dir / "packed.bz2").string()))
        throw std::runtime_error("bzip2 failed to compress");
    return ReadFile(dir / "packed.bz2");
}

std::string ToolDecompress(const std::string& compressed)
{
    TempDir dir;
    WriteFile(dir / "packed.bz2", compressed);
    if (!RunBzip2("-dc", (dir / "packed.bz2").string(), (dir / "plain").string()))
        throw std::runtime_error("bzip2 refused the stream");
    return ReadFile(dir / "plain");
}

} // namespace kw_bz2_test
