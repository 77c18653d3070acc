#include "TestSupport.h"

#include <boost/filesystem/operations.hpp>

#include <openssl/sha.h>

#include <fstream>
#include <iostream>
#include <random>

#include <sys/wait.h>

namespace fs = boost::filesystem;

namespace testsupport {

TempDir::TempDir() : path_(fs::temp_directory_path() / fs::unique_path("kwtest-%%%%-%%%%-%%%%"))
{
    fs::create_directories(path_);
}

TempDir::~TempDir()
{
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
}

Capture::Capture(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf(buffer_.rdbuf())) {}

Capture::~Capture() { stream_.rdbuf(saved_); }

void WriteFile(const fs::path& path, const std::string& bytes)
{
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

FILETIME Ticks(std::uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<std::uint32_t>(ticks);
    time.dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
    return time;
}

std::uint64_t TicksOf(const FILETIME& time)
{
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(generator());
    return bytes;
}

std::string HexText(const unsigned char* bytes, std::size_t count)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string OpenSslSha256Text(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return HexText(digest, sizeof digest);
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult RunCommand(const std::string& command)
{
    const TempDir scratch;
    const fs::path out = scratch / "out", err = scratch / "err";
    const std::string line = "( " + command + " ) >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) +
                             " </dev/null";
    const int status = std::system(line.c_str());
    return CommandResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

} // namespace testsupport
