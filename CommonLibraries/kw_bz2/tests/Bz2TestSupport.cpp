#include "Bz2TestSupport.h"

#include "../src/StreamBits.h"
#include "MixedData.h"
#include "TestSupport.h"

#include <random>
#include <stdexcept>

namespace kw_bz2_test {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Mixed(std::size_t size, unsigned seed, double randomShare)
{
    std::mt19937 rng(seed);
    std::string s;
    AppendMixedData(s, size, rng, randomShare);
    return s;
}

std::string RandomBytes(std::size_t size, unsigned seed)
{
    const testsupport::Bytes bytes = testsupport::RandomBytes(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

std::string Flipped(std::string data, std::uint64_t at, unsigned mask)
{
    char& byte = data[static_cast<std::size_t>(at)];
    byte = static_cast<char>(byte ^ mask);
    return data;
}

kw::bz2::Bz2Sink Recorder::Sink()
{
    return [this](const void* data, unsigned count) {
        ++calls;
        if (count == 0) ++emptyCalls;
        if (count > largestPiece) largestPiece = count;
        bytes.append(static_cast<const char*>(data), count);
    };
}

kw::bz2::Bz2AllocateFunction BlockLedger::Allocate()
{
    return [this](unsigned size) -> boost::shared_ptr<void> {
        ++requests;
        if (size > refuseAbove) {
            if (throwInstead) throw std::bad_alloc();
            return boost::shared_ptr<void>();
        }
        char* block = new char[size];
        live[block] = size;
        return boost::shared_ptr<void>(block, [this](char* p) {
            live.erase(p);
            delete[] p;
        });
    };
}

namespace {

// Runs the bzip2 tool on the file `name` in `dir`, returning what it writes.
std::string RunBzip2(const std::vector<std::string>& options, const TempDir& dir, const std::string& name)
{
    std::vector<std::string> argv{"bzip2"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(name);
    const testsupport::CommandResult result = testsupport::RunHostTool(argv, dir.path());
    if (result.exit_code != 0) throw std::runtime_error("bzip2 failed: " + result.err);
    return result.out;
}

} // namespace

std::string ToolCompress(const std::string& plain, const std::string& options)
{
    TempDir dir;
    WriteFile(dir / "plain", plain);
    return RunBzip2({"-c", options}, dir, "plain");
}

std::string ToolDecompress(const std::string& compressed)
{
    TempDir dir;
    WriteFile(dir / "packed.bz2", compressed);
    return RunBzip2({"-dc"}, dir, "packed.bz2");
}

std::vector<kw::bz2::MagicHit> ScanWhole(const std::string& stream)
{
    kw::bz2::InputWindow window;
    window.Append(stream.data(), stream.size());
    kw::bz2::MagicScanner scanner;
    std::vector<kw::bz2::MagicHit> hits;
    scanner.Scan(window, true, hits);
    return hits;
}

} // namespace kw_bz2_test
