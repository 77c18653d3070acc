#include "TestSupport.h"

#include <boost/filesystem/operations.hpp>
#ifdef _WIN32
#include <boost/filesystem/detail/utf8_codecvt_facet.hpp>
#endif

#include "Env.h"

#include <kw/KWConvert.h>

#include <openssl/sha.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

namespace fs = boost::filesystem;

namespace testsupport {

#ifdef _WIN32
namespace {
// Test texts are UTF-8 on every host, so paths take narrow text as UTF-8.
const bool kUtf8Paths = [] {
    fs::path::imbue(std::locale(std::locale(), new fs::detail::utf8_codecvt_facet));
    return true;
}();
} // namespace
#endif

TempDir::TempDir(const fs::path& base)
    : path_((base.empty() ? fs::temp_directory_path() : base) / fs::unique_path("kwtest-%%%%-%%%%-%%%%"))
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
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TreeSnapshot SnapshotTree(const fs::path& root, const std::set<std::string>& skip)
{
    kw::updater::Env& env = kw::updater::Env::Default();
    TreeSnapshot entries;
    if (!fs::exists(root)) return entries;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        const std::string relative = it->path().lexically_relative(root).generic_string();
        if (skip.count(relative)) {
            if (fs::is_directory(it->symlink_status())) it.disable_recursion_pending();
            continue;
        }
        if (fs::is_directory(it->symlink_status())) {
            entries[relative] = "directory";
            continue;
        }
        kw::updater::FileTimes times;
        env.GetTimes(it->path(), false, times);
        entries[relative] = OpenSslSha256Text(ReadFile(it->path())) + " " + std::to_string(TicksOf(times.modified));
    }
    return entries;
}

std::string TreeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual)
{
    std::string report;
    int reported = 0;
    const auto note = [&](const std::string& line) {
        if (++reported <= 10) report += line + "\n";
    };
    for (const auto& e : expected) {
        const auto a = actual.find(e.first);
        if (a == actual.end())
            note("missing: " + e.first);
        else if (a->second != e.second)
            note(e.first + ": " + a->second + ", expected " + e.second);
    }
    for (const auto& a : actual)
        if (!expected.count(a.first)) note("unexpected: " + a.first);
    if (reported > 10) report += "... " + std::to_string(reported - 10) + " more\n";
    return report;
}

void CopyTree(const fs::path& from, const fs::path& to)
{
    kw::updater::Env& env = kw::updater::Env::Default();
    // Only the modification time is carried: the copy's creation time is its own.
    const auto copy_modified = [&](const fs::path& source, const fs::path& target) {
        kw::updater::FileTimes source_times, times;
        env.GetTimes(source, true, source_times);
        env.GetTimes(target, true, times);
        times.modified = source_times.modified;
        env.SetTimes(target, times);
    };
    fs::create_directories(to);
    std::vector<fs::path> directories;
    for (fs::recursive_directory_iterator it(from), end; it != end; ++it) {
        const fs::path target = to / it->path().lexically_relative(from);
        if (fs::is_directory(it->path())) {
            fs::create_directories(target);
            directories.push_back(it->path());
            continue;
        }
        WriteFile(target, ReadFile(it->path()));
        copy_modified(it->path(), target);
    }
    // A directory takes its time once its content is written, the deepest first.
    for (auto it = directories.rbegin(); it != directories.rend(); ++it)
        copy_modified(*it, to / it->lexically_relative(from));
    copy_modified(from, to);
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
    for (std::size_t i = 0; i < count; ++i) text += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F]};
    return text;
}

std::string OpenSslSha256Text(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return HexText(digest, sizeof digest);
}

std::string ConsoleText(const std::string& utf8)
{
#ifdef _WIN32
    std::string shown;
    kw::ConvertUtf8ToSjis(utf8, shown);
    return shown;
#else
    return utf8;
#endif
}

RunningProgram::~RunningProgram() { Kill(); }

bool RunningProgram::WaitForOutput(const std::string& text)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(scratch_ / "out").find(text) == std::string::npos) {
        if (Ended() || std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

CommandResult RunProgram(const std::vector<std::string>& argv, const fs::path& dir,
                         const std::vector<std::string>& environment)
{
    // The settings reach the program through this process's environment,
    // which gets its own values back once the program has started.
    std::vector<std::pair<std::string, std::string>> saved;
    for (const std::string& setting : environment) {
        const std::string name = setting.substr(0, setting.find('='));
        const char* value = std::getenv(name.c_str());
        saved.emplace_back(name, value ? value : "");
        SetEnvironment(name, setting.substr(name.size() + 1));
    }
    RunningProgram program(argv, dir);
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) SetEnvironment(it->first, it->second);
    return program.Wait();
}

const char kNoCreationTimesUnderWine[] = "Wine cannot store creation times on a Linux file system";

} // namespace testsupport
