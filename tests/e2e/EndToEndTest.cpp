// The built KWUpdater applies packages made by the built KWPack to scratch
// installations, with standard input closed so the final prompt returns.
#include "PackageBuilder.h"
#include "Sha256Utils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>

namespace fs = boost::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char kJapaneseName[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"; // 日本語.txt

using Result = testsupport::CommandResult;
using testsupport::ShellQuote;

std::string Quote(const fs::path& path) { return ShellQuote(path.string()); }

// Runs a shell command in `dir` with standard input closed.
Result RunIn(const fs::path& dir, const std::string& command)
{
    return testsupport::RunCommand("cd " + Quote(dir) + " && " + command);
}

Result Updater(const fs::path& root, const std::string& package = "up.kwp")
{
    return RunIn(root, std::string(KW_UPDATER_EXE) + " " + package);
}

void Put(const fs::path& root, const std::string& relative, const std::string& content, std::time_t mtime)
{
    const fs::path path = root / relative;
    fs::create_directories(path.parent_path());
    WriteFile(path, content);
    fs::last_write_time(path, mtime);
}

// Every regular file below `root`, one line each: its path, the SHA-256 of
// its content and its modification time at the 100-ns precision packages carry.
std::string Files(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        if (!fs::is_regular_file(it->path())) continue;
        struct stat st;
        ::stat(it->path().c_str(), &st);
        const long long ticks = static_cast<long long>(st.st_mtim.tv_sec) * 10000000LL + st.st_mtim.tv_nsec / 100;
        std::ifstream in(it->path().string(), std::ios::binary);
        std::string digest;
        sha256utils::hash_from_stream(in, digest);
        files[it->path().lexically_relative(root).string()] = digest.substr(0, 16) + " " + std::to_string(ticks);
    }
    std::string lines;
    for (const auto& file : files) lines += file.first + " " + file.second + "\n";
    return lines;
}

std::vector<std::string> Entries(const fs::path& root)
{
    std::vector<std::string> names;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it)
        names.push_back(it->path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        keys_ = new TempDir;
        const Result r = RunIn(keys_->path(), std::string(KWPACK_EXE) + " keygen key.pem lmfile --bits 1024");
        ASSERT_EQ(0, r.exit_code) << r.err;
    }
    static void TearDownTestSuite()
    {
        delete keys_;
        keys_ = nullptr;
    }

    void SetUp() override
    {
        const std::string lmfile = ReadFile(keys_->path() / "lmfile");
        for (const fs::path& tree : {old_tree(), new_tree()}) Put(tree, "bin/lmfile", lmfile, 1500000000);
        Put(old_tree(), "readme.txt", "readme 1.0\n", 1500000000);
        Put(old_tree(), "same.txt", "unchanged\n", 1500000000);
        Put(old_tree(), "bin/main.dll", std::string(70000, 'm'), 1500000000);
        Put(new_tree(), "readme.txt", "readme 1.1, longer\n", 1600000000);
        Put(new_tree(), "same.txt", "unchanged\n", 1500000000);
        Put(new_tree(), "bin/main.dll", std::string(69000, 'n'), 1600000100);
        Put(new_tree(), "news.txt", "new in 1.1\n", 1600000200);
        Put(new_tree(), "bin/plugins/p.dll", "plugin", 1600000300);
        Put(new_tree(), std::string("docs/") + kJapaneseName, "\xE6\x97\xA5\n", 1600000400);
        fs::copy_file(old_tree() / "bin/lmfile", dir_ / "lmfile");
        Install();
    }

    fs::path old_tree() const { return dir_ / "old"; }
    fs::path new_tree() const { return dir_ / "new"; }
    fs::path root() const { return dir_ / "inst"; }
    fs::path package() const { return root() / "up.kwp"; }

    // A fresh installation at 1.0.
    void Install()
    {
        fs::remove_all(root());
        fs::create_directories(root());
        for (fs::recursive_directory_iterator it(old_tree()), end; it != end; ++it) {
            const fs::path target = root() / it->path().lexically_relative(old_tree());
            if (fs::is_directory(it->path()))
                fs::create_directories(target);
            else
                fs::copy_file(it->path(), target);
            fs::last_write_time(target, fs::last_write_time(it->path()));
        }
    }

    // A copy of the installation, package included, at `target`.
    void CopyInstallation(const fs::path& target)
    {
        fs::create_directories(target);
        for (fs::recursive_directory_iterator it(root()), end; it != end; ++it) {
            const fs::path copy = target / it->path().lexically_relative(root());
            if (fs::is_directory(it->path()))
                fs::create_directories(copy);
            else
                WriteFile(copy, ReadFile(it->path())); // boost's copy_file fails across devices here
            fs::last_write_time(copy, fs::last_write_time(it->path()));
        }
    }

    void MakePackage(const fs::path& target)
    {
        const Result r = RunIn(dir_.path(), std::string(KWPACK_EXE) + " make old new " + Quote(target) + " --key " +
                                                 Quote(keys_->path() / "key.pem") + " --from 1.0 --to 1.1 --quiet --force");
        ASSERT_EQ(0, r.exit_code) << r.err;
    }

    // Packs a tree scanned beforehand, names a scan would refuse included.
    void BuildFromTree(const fs::path& source, const kwpack::TreeEntry& tree)
    {
        kwpack::BuildOptions options;
        options.source = source;
        options.package = package();
        options.key = keys_->path() / "key.pem";
        options.force = true;
        kwpack::BuildPackageFromTree(options, tree);
    }

    // The package with `count` bytes at `offset` replaced.
    void Patch(std::size_t offset, const std::string& bytes)
    {
        std::string data = ReadFile(package());
        data.replace(offset, bytes.size(), bytes);
        WriteFile(package(), data);
    }

    void ExpectUpdatedAndClean()
    {
        EXPECT_EQ(Files(new_tree()), Files(root()));
        EXPECT_FALSE(fs::exists(package()));
        EXPECT_FALSE(fs::exists(root() / ".update"));
        EXPECT_FALSE(fs::exists(root() / ".backup"));
    }

    // A rerun after the failure is mended starts at `stage` and completes.
    void ExpectResumedAt(int stage)
    {
        const Result r = Updater(root());
        EXPECT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ(0u, r.out.find("Begin Stage " + std::to_string(stage) + "/4\n")) << r.out;
        ExpectUpdatedAndClean();
    }

    void ExpectFailure(const Result& r, const std::string& error_pattern)
    {
        EXPECT_EQ(1, r.exit_code);
        EXPECT_TRUE(std::regex_match(r.err, std::regex("Error: " + error_pattern + "\n"))) << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex("Update failed.\nPress enter key to exit updater.\n$"))) << r.out;
    }

    static TempDir* keys_;
    TempDir dir_;
};

TempDir* EndToEnd::keys_ = nullptr;

const char kProgress[] = "( progress: [0-9]{9} / [0-9]{9}\r)+";

TEST_F(EndToEnd, FullUpdatePrintsEveryStageAndLeavesExactlyTheNewTree)
{
    MakePackage(package());
    const Result r = Updater(root());
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_EQ("", r.err);
    const std::string expected = std::string("Begin Stage 1/4\n") + kProgress + "\n\nStage 1 Completed!\n" +
                                 "Begin Stage 2/4\n" + kProgress + "\nStage 2 Completed!\n" +
                                 "Begin Stage 3/4\n\nStage 3 Completed!\nBegin Stage 4/4\n"
                                 " begin update: ver1\\.0 => ver1\\.1\n"
                                 " copy file: readme\\.txt\n"
                                 " copy file: news\\.txt\n"
                                 " create directory: docs\n"
                                 " copy file: bin/main\\.dll\n"
                                 " create directory: bin/plugins\n"
                                 " copy file: bin/plugins/p\\.dll\n"
                                 " copy file: docs/" + kJapaneseName + "\n"
                                 "\nStage 4 Completed!\nUpdate was completed successfully.\n"
                                 "Press enter key to exit updater.\n";
    EXPECT_TRUE(std::regex_match(r.out, std::regex(expected))) << r.out;
    // The last progress line of a stage reaches the total.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(" progress: ([0-9]{9}) / \\1\r\n\nStage 1"))) << r.out;
    ExpectUpdatedAndClean();
    EXPECT_TRUE(fs::exists(root() / "docs" / kJapaneseName));
}

TEST_F(EndToEnd, PackageNamedWithoutDirectoryRunsFromTheInstallationRoot)
{
    MakePackage(package());
    const Result r = RunIn(root(), std::string(KW_UPDATER_EXE) + " up.kwp");
    EXPECT_EQ(0, r.exit_code) << r.err;
    ExpectUpdatedAndClean();
}

TEST_F(EndToEnd, CorruptPackagesStopStageOneAndAGoodPackageThenCompletes)
{
    const std::size_t key_size = ReadFile(dir_ / "lmfile").size();
    MakePackage(dir_ / "good.kwp");
    const std::string good = ReadFile(dir_ / "good.kwp");
    const std::string at_decrypt = "At PackageReader\\.cpp\\([0-9]+\\) in decrypt\\(\\)\n";

    struct Case {
        std::string name;
        std::function<void()> damage;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"magic", [&] { Patch(0, "PUKW"); }, at_decrypt + "header unmatched!!"},
        {"version character", [&] { Patch(4, "01a1"); }, at_decrypt + "illegal version character"},
        {"newer version", [&] { Patch(4, "0112"); },
         at_decrypt + "Update-file is newer than updater, please update updater"},
        {"ends within the length", [&] { WriteFile(package(), good.substr(0, 8 + key_size + 2)); },
         at_decrypt + "something wrong: buffer is too few"},
        {"truncated key block", [&] { WriteFile(package(), good.substr(0, 8 + key_size / 2)); },
         at_decrypt + "(illegal cypher text|hash unmatched)"},
        {"altered body", [&] { Patch(good.size() - 40, std::string(1, static_cast<char>(good[good.size() - 40] ^ 1))); },
         at_decrypt + "hash unmatched"},
        {"altered key block", [&] { Patch(8 + 3, std::string(1, static_cast<char>(good[8 + 3] ^ 0x10))); },
         at_decrypt + "illegal cypher text"},
        {"missing key file", [&] { fs::remove(root() / "bin/lmfile"); },
         "At PackageReader\\.cpp\\([0-9]+\\) in read_key\\(\\)\ncannot open key file"},
        {"empty key file", [&] { WriteFile(root() / "bin/lmfile", ""); },
         "At PackageReader\\.cpp\\([0-9]+\\) in read_key\\(\\)\nempty key file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install();
        WriteFile(package(), good);
        c.damage();
        const Result r = Updater(root());
        ExpectFailure(r, c.error);
        EXPECT_FALSE(fs::exists(root() / ".update/up.stage")) << "stage 1 is not recorded";
        if (r.err.find("hash unmatched") != std::string::npos) {
            EXPECT_FALSE(fs::exists(root() / ".update/up.pkg.bz2"));
        }

        // The same name with a good package (and key) then completes.
        WriteFile(package(), good);
        Put(root(), "bin/lmfile", ReadFile(dir_ / "lmfile"), 1500000000);
        const Result again = Updater(root());
        EXPECT_EQ(0, again.exit_code) << again.err;
        ExpectUpdatedAndClean();
    }
}

TEST_F(EndToEnd, BrokenDecryptedDataStopsStageTwo)
{
    MakePackage(package());
    // Stage 1 done, as a first run leaves it, then the temporary file damaged.
    fs::create_directories(root() / ".update");
    WriteFile(root() / ".update/up.stage", std::string("\x01\x00\x00\x00", 4));

    WriteFile(root() / ".update/up.pkg.bz2", "BZh91AY&SY this is not bzip2 data at all");
    const Result corrupt = Updater(root());
    EXPECT_EQ(1, corrupt.exit_code);
    EXPECT_EQ("Error: invalid input data\n", corrupt.err);

    // A bzip2 stream that is whole but holds a cut archive.
    const std::string cut_archive = "KWUP0111" + std::string(20, '\x01');
    const fs::path raw = dir_ / "cut";
    WriteFile(raw, cut_archive);
    ASSERT_EQ(0, std::system(("bzip2 -kf " + Quote(raw)).c_str()));
    fs::copy_file(dir_ / "cut.bz2", root() / ".update/up.pkg.bz2", fs::copy_option::overwrite_if_exists);
    ExpectFailure(Updater(root()), "At PackageReader\\.cpp\\([0-9]+\\) in expand_bzip2\\(\\)\nan error occurred while decompression");
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), ReadFile(root() / ".update/up.stage"));
}

TEST_F(EndToEnd, EachStageResumesAfterItsFailureIsMended)
{
    MakePackage(dir_ / "good.kwp");
    const std::string good = ReadFile(dir_ / "good.kwp");

    // Stage 2: the extraction directory is blocked by a file.
    WriteFile(package(), good);
    fs::create_directories(root() / ".update");
    WriteFile(root() / ".update/up", "in the way");
    ExpectFailure(Updater(root()), "At ArchiveExpansion\\.cpp\\([0-9]+\\) in construct\\(\\)\nbase dir is not a directory");
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), ReadFile(root() / ".update/up.stage"));
    fs::remove(root() / ".update/up");
    ExpectResumedAt(2);

    // Stage 3: the installation is not the old version.
    Install();
    WriteFile(package(), good);
    WriteFile(root() / "readme.txt", "edited by hand\n");
    Result r = Updater(root());
    EXPECT_EQ(1, r.exit_code);
    EXPECT_NE(std::string::npos, r.err.find("version unmatched!")) << r.err;
    EXPECT_EQ(std::string("\x02\x00\x00\x00", 4), ReadFile(root() / ".update/up.stage"));
    fs::copy_file(old_tree() / "readme.txt", root() / "readme.txt", fs::copy_option::overwrite_if_exists);
    fs::last_write_time(root() / "readme.txt", fs::last_write_time(old_tree() / "readme.txt"));
    ExpectResumedAt(3);

    // Stage 4: a file stands where a new directory goes.
    Install();
    WriteFile(package(), good);
    WriteFile(root() / "docs", "in the way");
    r = Updater(root());
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), ReadFile(root() / ".update/up.stage"));
    EXPECT_EQ("readme 1.1, longer\n", ReadFile(root() / "readme.txt")) << "files before the failure stay replaced";
    EXPECT_EQ("readme 1.0\n", ReadFile(root() / ".backup/1.0/readme.txt"));
    fs::remove(root() / "docs");
    ExpectResumedAt(4);
}

// The longest names a file system holds, for installed files and for the
// package, beside the user's own files that look like working files.
TEST_F(EndToEnd, LongestNamesWorkAndTheUsersOwnFilesStayUntouched)
{
    std::string modified = "bin/", added; // 253 and 255 bytes of UTF-8
    for (int i = 0; i < 83; ++i) modified += "\xE6\x97\xA5"; // 日
    modified += ".txt";
    for (int i = 0; i < 85; ++i) added += "\xE5\x90\x8D"; // 名
    Put(old_tree(), modified, "long 1.0\n", 1500000000);
    Put(new_tree(), modified, "long 1.1\n", 1600000500);
    Put(new_tree(), added, "added\n", 1600000600);
    MakePackage(dir_ / "long.kwp");

    for (std::size_t length : {251u, 255u}) {
        SCOPED_TRACE(length);
        Install();
        fs::remove(package());
        const std::string name = std::string(length - 4, 'p') + ".kwp";
        fs::copy_file(dir_ / "long.kwp", root() / name);
        WriteFile(root() / "readme.txt.kwtmp", "the user's notes\n");
        WriteFile(root() / "bin/main.dll.kwtmp/keep.txt", "the user's directory\n");

        const Result r = Updater(root(), name);
        EXPECT_EQ(0, r.exit_code) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_FALSE(fs::exists(root() / name));
        EXPECT_EQ("the user's notes\n", ReadFile(root() / "readme.txt.kwtmp"));
        EXPECT_EQ("the user's directory\n", ReadFile(root() / "bin/main.dll.kwtmp/keep.txt"));
        fs::remove(root() / "readme.txt.kwtmp");
        fs::remove_all(root() / "bin/main.dll.kwtmp");
        ExpectUpdatedAndClean();
    }
}

// A full disk, on a small file system mounted for the test: stage 1 fails, a
// rerun on the still-full disk fails as plainly, and once space is freed a
// run completes.
TEST_F(EndToEnd, AFullDiskStopsTheUpdateUntilSpaceIsFreed)
{
    MakePackage(package());
    const fs::path disk = dir_ / "disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    const fs::path inst = disk / "inst";
    CopyInstallation(inst);
    {
        std::ofstream filler((disk / "filler").string(), std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()).flush()) {
        }
    }

    for (const char* run : {"stage 1 on a full disk", "a rerun on the still-full disk"}) {
        SCOPED_TRACE(run);
        const Result r = Updater(inst);
        EXPECT_EQ(1, r.exit_code);
        EXPECT_EQ(0u, r.err.find("Error: ")) << r.err;
        const fs::path stage_file = inst / ".update/up.stage";
        EXPECT_TRUE(!fs::exists(stage_file) || fs::file_size(stage_file) == 4) << "never a short stage file";
    }
    fs::remove(disk / "filler");
    const Result freed = Updater(inst);
    EXPECT_EQ(0, freed.exit_code) << freed.err;
    EXPECT_EQ(Files(new_tree()), Files(inst));
    EXPECT_FALSE(fs::exists(inst / "up.kwp"));
    EXPECT_FALSE(fs::exists(inst / ".update"));
}

// Packages whose archive names try to leave the extraction directory. A
// scan refuses such names, so they are put into the scanned tree by hand.
TEST_F(EndToEnd, UnsafeArchiveNamesAreRefusedAndNothingLandsOutside)
{
    const fs::path source = dir_ / "source";
    Put(source, "update.xml", "<u from=\"1.0\" to=\"1.1\"></u>", 1600000000);
    Put(source, "d1/d2/evil.txt", "evil", 1600000000);
    Put(source, "evil.txt", "evil", 1600000000);
    const kwpack::TreeEntry scanned = kwpack::ScanTree(source);

    struct Case {
        std::string file_name, outer_dir_name, inner_dir_name;
    };
    const std::vector<Case> cases = {
        {"..\\..\\evil.txt", "d1", "d2"}, {"c:evil.txt", "d1", "d2"}, {"/evil.txt", "d1", "d2"},
        {std::string("evil.txt\0x", 10), "d1", "d2"}, {"evil.txt", "..", ".."}, {"evil.txt", "d1", "."},
        {"evil.txt", "", "d2"},  {"..", "d1", "d2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file_name + " in " + c.outer_dir_name + "/" + c.inner_dir_name);
        kwpack::TreeEntry tree = scanned;
        for (kwpack::TreeEntry& child : tree.children) {
            if (child.name == "evil.txt") child.narrow_name = c.file_name;
            if (child.name != "d1") continue;
            child.narrow_name = c.outer_dir_name;
            child.children[0].narrow_name = c.inner_dir_name;
        }
        Install();
        BuildFromTree(source, tree);

        const std::vector<std::string> before = Entries(dir_.path());
        const Result r = Updater(root());
        EXPECT_EQ(1, r.exit_code);
        EXPECT_TRUE(std::regex_search(r.err, std::regex("^Error: At ArchiveExpansion\\.cpp\\([0-9]+\\) in "
                                                        "construct_tree::node_action::operator \\(\\)\\(\\)\nunsafe name")))
            << r.err;
        // Only this package's working area changed, and nothing evil was written.
        std::vector<std::string> after = Entries(dir_.path());
        after.erase(std::remove_if(after.begin(), after.end(),
                                   [](const std::string& e) { return e.rfind("inst/.update", 0) == 0; }),
                    after.end());
        EXPECT_EQ(before, after);
        // Ordinary entries may have been written before the unsafe one, but
        // only inside the extraction directory.
        for (const std::string& entry : Entries(root() / ".update"))
            if (entry.find("evil") != std::string::npos) {
                EXPECT_EQ(0u, entry.find("up/d1/d2/")) << entry;
            }
        EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), ReadFile(root() / ".update/up.stage"));
    }

    // A name longer than an archive may carry is a flaw of the stream itself.
    kwpack::TreeEntry tree = scanned;
    tree.children.back().narrow_name = std::string(300, 'n');
    Install();
    BuildFromTree(source, tree);
    ExpectFailure(Updater(root()), "At PackageReader\\.cpp\\([0-9]+\\) in expand_bzip2\\(\\)\nan error occurred while decompression");
    EXPECT_FALSE(fs::exists(root() / ".update/up")) << "nothing is written from a flawed stream";
}

} // namespace
