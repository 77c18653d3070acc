#include "Scenario.h"

#include "FaultEnv.h"
#include "KWUpdater.h"

#include <boost/filesystem/operations.hpp>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {
namespace {

const char kJapaneseModified[] = "d00/\xE8\xA1\xA8\xE7\xA4\xBA.txt";          // d00/表示.txt
const char kJapaneseAdded[] = "\xE8\xB3\x87\xE6\x96\x99/\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.dat"; // 資料/ソフト.dat

// Content that differs by name and version; a few files are large enough
// to take many writes.
std::string Content(const std::string& name, int version, int index)
{
    std::size_t size = 200 + static_cast<std::size_t>(index * 37 % 2900);
    if (index % 17 == 5) size = 70000 + static_cast<std::size_t>(index);
    if (index == 11) size = 300000;
    const std::string line = name + " version " + std::to_string(version) + "\n";
    std::string text;
    while (text.size() < size) text += line;
    text.resize(size);
    return text;
}

// A file with its content and a modification time that uses the 100-ns
// precision that packages carry.
void Put(const fs::path& root, const std::string& relative, const std::string& content, long seconds)
{
    const fs::path path = root / relative;
    testsupport::WriteFile(path, content);
    const kw::FILETIME time = testsupport::Ticks((seconds + 11644473600ULL) * 10000000ULL + seconds % 9973);
    kw::updater::Env::Default().SetTimes(path, kw::updater::FileTimes{time, time});
}

// The file system in memory, where the system offers one.
fs::path MemoryIfAny()
{
    boost::system::error_code error;
    return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::path();
}

#ifndef _WIN32
// The environment that loads the fault library into the updater, plus `settings`.
std::vector<std::string> ShimEnvironment(const std::vector<std::string>& settings)
{
    std::vector<std::string> env{std::string("LD_PRELOAD=") + KW_FAULT_SHIM, "KW_SHIM_NO_SYNC=1"};
#ifdef KW_CRASH_SANITIZED
    // The preloaded library comes before the sanitizer's runtime; it forwards
    // every call, so the sanitizer's interceptors still run.
    const char* options = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (options && *options ? std::string(options) + ":" : std::string()) +
                  "verify_asan_link_order=0");
#endif
    env.insert(env.end(), settings.begin(), settings.end());
    return env;
}
#endif

} // namespace

const char* Scenario::JapaneseModifiedFile() { return kJapaneseModified; }

Scenario::Scenario(int directories, int files_per_directory)
    : scratch_(MemoryIfAny()), dir_(scratch_.path()), old_(dir_ / "old"), new_(dir_ / "new"), root_(dir_ / "inst"),
      package_(root_ / "up.kwp"), master_package_(dir_ / "master.kwp")
{
    const ChildResult keys =
        testsupport::RunProgram({KWPACK_EXE, "keygen", "key.pem", "lmfile", "--bits", "1024"}, dir_);
    if (keys.exit_code != 0) throw std::runtime_error("keygen failed: " + keys.err);
    const std::string lmfile = testsupport::ReadFile(dir_ / "lmfile");
    long when = 1500000000;
    for (const fs::path& tree : {old_, new_}) Put(tree, "bin/lmfile", lmfile, when);

    int index = 0;
    for (int d = 0; d < directories; ++d) {
        char dir_name[16];
        std::snprintf(dir_name, sizeof dir_name, "d%02d", d);
        for (int f = 0; f < files_per_directory; ++f, ++index) {
            char file_name[32];
            std::snprintf(file_name, sizeof file_name, "/f%03d.txt", f);
            const std::string relative = dir_name + std::string(file_name);
            Put(old_, relative, Content(relative, 1, index), when + index);
            const bool modified = index % 3 == 0;
            Put(new_, relative, Content(relative, modified ? 2 : 1, index), when + (modified ? 100000 : 0) + index);
        }
        for (int f = 0; f < 1 + files_per_directory / 3; ++f, ++index) {
            const std::string relative = dir_name + std::string("/added") + std::to_string(f) + ".bin";
            Put(new_, relative, Content(relative, 2, index), when + 200000 + index);
        }
    }
    Put(old_, kJapaneseModified, Content(kJapaneseModified, 1, 1), when);
    Put(new_, kJapaneseModified, Content(kJapaneseModified, 2, 2), when + 300000);
    for (const char* relative : {kJapaneseAdded, "n0/readme.txt", "n0/sub/deep.txt", "n0/sub/deeper/last.txt"}) {
        ++index;
        Put(new_, relative, Content(relative, 2, index), when + 400000 + index);
    }
    for (fs::recursive_directory_iterator it(new_), end; it != end; ++it)
        if (fs::is_regular_file(it->path())) ++new_files_;

    const ChildResult made = testsupport::RunProgram(
        {KWPACK_EXE, "make", "old", "new", "master.kwp", "--key", "key.pem", "--from", "1.0", "--to", "1.1", "--quiet"},
        dir_);
    if (made.exit_code != 0) throw std::runtime_error("KWPack make failed: " + made.err);
}

void Scenario::Install() const
{
    fs::remove_all(root_);
    testsupport::CopyTree(old_, root_);
    fs::copy_file(master_package_, package_);
}

#ifndef _WIN32
ChildResult Scenario::RunUpdater(const std::vector<std::string>& settings) const
{
    return testsupport::RunProgram({KW_UPDATER_EXE, package_.string()}, {}, ShimEnvironment(settings));
}
#endif

ChildResult Scenario::RunInProcess(kw::updater::Env& env) const
{
    std::string program = "KWUpdater", package = package_.string();
    std::vector<char*> argv = {&program[0], &package[0]};
    std::istringstream no_input;
    ChildResult result;
    testsupport::Capture out(std::cout), err(std::cerr);
    try {
        result.exit_code = kw::updater::RunUpdater(2, argv.data(), kw::updater::StageOperations(), &no_input, env);
    } catch (const Stopped&) {
        result.signal = kKillSignal;
    }
    result.out = out.text();
    result.err = err.text();
    return result;
}

std::string Scenario::Differences(bool working_files_allowed) const
{
    std::set<std::string> skip;
    if (working_files_allowed) skip = {".update", ".backup", package_.filename().string()};
    return testsupport::TreeDifferences(testsupport::SnapshotTree(new_), testsupport::SnapshotTree(root_, skip));
}

std::vector<std::string> Scenario::Temporaries() const
{
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator it(root_), end; it != end; ++it) {
        if (it->path() == root_ / ".update") it.disable_recursion_pending();
        if (it->path().extension() == ".kwtmp") found.push_back(it->path().lexically_relative(root_).string());
    }
    return found;
}

std::string Scenario::ForeignFiles() const
{
    std::string found;
    for (fs::recursive_directory_iterator it(root_), end; it != end; ++it) {
        if (it->path() == root_ / ".update" || it->path() == root_ / ".backup") it.disable_recursion_pending();
        if (!fs::is_regular_file(it->symlink_status()) || it->path() == package_) continue;
        const fs::path relative = it->path().lexically_relative(root_);
        const std::string content = testsupport::ReadFile(it->path());
        bool known = false;
        for (const fs::path& tree : {old_, new_})
            known = known || (fs::is_regular_file(tree / relative) && testsupport::ReadFile(tree / relative) == content);
        if (!known) found += relative.string() + " (" + std::to_string(content.size()) + " bytes)\n";
    }
    return found;
}

} // namespace crash
