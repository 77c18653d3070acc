#include "Scenario.h"

#include <boost/filesystem/operations.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {
namespace {

const char kJapaneseModified[] = "d00/\xE8\xA1\xA8\xE7\xA4\xBA.txt";          // d00/表示.txt
const char kJapaneseDirectory[] = "\xE8\xB3\x87\xE6\x96\x99";                  // 資料
const char kJapaneseAdded[] = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.dat";     // ソフト.dat

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct timespec MTime(const fs::path& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path.string());
    return st.st_mtim;
}

void SetMTime(const fs::path& path, const struct timespec& mtime)
{
    const struct timespec times[2] = {mtime, mtime};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("cannot set times of " + path.string());
}

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
    fs::create_directories(path.parent_path());
    std::ofstream(path.string(), std::ios::binary | std::ios::trunc) << content;
    SetMTime(path, {static_cast<time_t>(seconds), (seconds % 9973) * 100});
}

void CopyTree(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    for (fs::recursive_directory_iterator it(from), end; it != end; ++it) {
        const fs::path target = to / it->path().lexically_relative(from);
        if (fs::is_directory(it->path())) {
            fs::create_directories(target);
        } else {
            fs::copy_file(it->path(), target);
            SetMTime(target, MTime(it->path()));
        }
    }
}

} // namespace

ScratchDir::ScratchDir()
{
    boost::system::error_code error;
    const fs::path memory = "/dev/shm";
    const fs::path base = fs::is_directory(memory, error) && ::access(memory.c_str(), W_OK) == 0
                              ? memory
                              : fs::temp_directory_path();
    path_ = base / fs::unique_path("kwcrash-%%%%-%%%%-%%%%");
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
}

const char* Scenario::JapaneseModifiedFile() { return kJapaneseModified; }

Scenario::Scenario(const fs::path& dir, int directories, int files_per_directory)
    : dir_(dir), old_(dir / "old"), new_(dir / "new"), root_(dir / "inst"), package_(root_ / "up.kwp"),
      master_package_(dir / "master.kwp")
{
    const ChildResult keys = RunChild({KWPACK_EXE, "keygen", (dir_ / "key.pem").string(), (dir_ / "lmfile").string(),
                                       "--bits", "1024"},
                                      {}, dir_);
    if (keys.code != 0) throw std::runtime_error("keygen failed: " + keys.err);
    const std::string lmfile = Slurp(dir_ / "lmfile");
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
            if (index % 3 == 0)
                Put(new_, relative, Content(relative, 2, index), when + 100000 + index); // modified
            else
                Put(new_, relative, Content(relative, 1, index), when + index); // unchanged
        }
        for (int f = 0; f < 1 + files_per_directory / 3; ++f, ++index) {
            const std::string relative = dir_name + std::string("/added") + std::to_string(f) + ".bin";
            Put(new_, relative, Content(relative, 2, index), when + 200000 + index);
            added_.insert(relative);
        }
    }
    Put(old_, kJapaneseModified, Content(kJapaneseModified, 1, 1), when);
    Put(new_, kJapaneseModified, Content(kJapaneseModified, 2, 2), when + 300000);
    const std::vector<std::string> new_directory_files = {
        std::string(kJapaneseDirectory) + "/" + kJapaneseAdded,
        "n0/readme.txt",
        "n0/sub/deep.txt",
        "n0/sub/deeper/last.txt",
    };
    for (const std::string& relative : new_directory_files) {
        ++index;
        Put(new_, relative, Content(relative, 2, index), when + 400000 + index);
        added_.insert(relative);
    }
    for (fs::recursive_directory_iterator it(new_), end; it != end; ++it)
        if (fs::is_regular_file(it->path())) ++new_files_;

    const ChildResult made = RunChild({KWPACK_EXE, "make", old_.string(), new_.string(), master_package_.string(), "--key",
                                       (dir_ / "key.pem").string(), "--from", "1.0", "--to", "1.1", "--quiet"},
                                      {}, dir_);
    if (made.code != 0) throw std::runtime_error("KWPack make failed: " + made.err);
}

void Scenario::Install() const
{
    fs::remove_all(root_);
    CopyTree(old_, root_);
    fs::copy_file(master_package_, package_);
}

ChildResult Scenario::RunUpdater(const std::vector<std::string>& settings) const
{
    return RunChild({KW_UPDATER_EXE, package_.string()}, ShimEnvironment(settings), dir_);
}

std::string Scenario::Differences(bool working_files_allowed) const
{
    // Each entry: "directory", or a file's modification time (when it is held
    // to it); contents are compared separately, byte for byte.
    const auto entries = [this](const fs::path& root, bool skip_working) {
        std::map<std::string, std::string> found;
        for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
            const std::string relative = it->path().lexically_relative(root).string();
            if (skip_working && (relative == ".update" || relative == ".backup" || it->path() == package_)) {
                if (fs::is_directory(it->path())) it.disable_recursion_pending();
                continue;
            }
            if (fs::is_directory(it->path())) {
                found[relative] = "directory";
            } else if (!kCompareAddedFileTimes && added_.count(relative)) {
                found[relative] = "file";
            } else {
                const struct timespec t = MTime(it->path());
                found[relative] = "file modified " + std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
            }
        }
        return found;
    };
    const std::map<std::string, std::string> expected = entries(new_, false);
    const std::map<std::string, std::string> actual = entries(root_, working_files_allowed);

    std::string report;
    int reported = 0;
    const auto note = [&](const std::string& line) {
        if (++reported <= 10) report += line + "\n";
    };
    for (const auto& e : expected) {
        const auto a = actual.find(e.first);
        if (a == actual.end()) {
            note("missing: " + e.first);
        } else if (a->second != e.second) {
            note(e.first + ": " + a->second + ", expected " + e.second);
        } else if (e.second != "directory" && Slurp(new_ / e.first) != Slurp(root_ / e.first)) {
            note(e.first + ": content differs");
        }
    }
    for (const auto& a : actual)
        if (!expected.count(a.first)) note("unexpected: " + a.first);
    if (reported > 10) report += "... " + std::to_string(reported - 10) + " more\n";
    return report;
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
        const std::string content = Slurp(it->path());
        bool known = false;
        for (const fs::path& tree : {old_, new_})
            known = known || (fs::is_regular_file(tree / relative) && Slurp(tree / relative) == content);
        if (!known) found += relative.string() + " (" + std::to_string(content.size()) + " bytes)\n";
    }
    return found;
}

} // namespace crash
