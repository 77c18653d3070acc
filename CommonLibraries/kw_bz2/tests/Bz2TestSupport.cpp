#include "Bz2TestSupport.h"

#include <boost/filesystem.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kw_bz2_test {

kw::bz2::Bz2Sink Recorder::Sink()
{
    return [this](const void* data, unsigned count) {
        ++calls;
        if (count == 0) ++emptyCalls;
        if (count > largestPiece) largestPiece = count;
        bytes.append(static_cast<const char*>(data), count);
    };
}

TempDir::TempDir()
{
    const boost::filesystem::path path =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("kw_bz2_test_%%%%%%%%");
    boost::filesystem::create_directory(path);
    path_ = path.string();
}

TempDir::~TempDir()
{
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool RunBzip2(const std::string& options, const std::string& input, const std::string& output)
{
    const std::string command = "bzip2 " + options + " < '" + input + "' > '" + output + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

std::string ToolCompress(const std::string& plain, const std::string& options)
{
    TempDir dir;
    WriteFile(dir.Path("plain"), plain);
    if (!RunBzip2("-c " + options, dir.Path("plain"), dir.Path("packed.bz2")))
        throw std::runtime_error("bzip2 failed to compress");
    return ReadFile(dir.Path("packed.bz2"));
}

std::string ToolDecompress(const std::string& compressed)
{
    TempDir dir;
    WriteFile(dir.Path("packed.bz2"), compressed);
    if (!RunBzip2("-dc", dir.Path("packed.bz2"), dir.Path("plain")))
        throw std::runtime_error("bzip2 refused the stream");
    return ReadFile(dir.Path("plain"));
}

} // namespace kw_bz2_test
