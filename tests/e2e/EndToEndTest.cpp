// The built KWUpdater applies packages made by the built KWPack to scratch
// installations, with standard input closed so the final prompt returns.
#include "PackageBuilder.h"
#include "TestSupport.h"

#include <kw/archive/ArchiveFormat.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#endif

#include <memory>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = boost::filesystem;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::SnapshotTree;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Le32(std::int32_t value)
{
    std::string bytes(4, '\0');
    kw::archive::format::StoreLe32(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(value));
    return bytes;
}

const char kJapaneseName[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"; // 日本語.txt

using Result = testsupport::CommandResult;

// A name as the program's console lines show it, as a regular expression:
// UTF-8 on Linux, the ANSI code page (CP932) on Windows.
std::string ConsolePattern(const std::string& utf8)
{
    // Byte by byte: the second byte of a CP932 character may be a backslash or '{'.
    return std::regex_replace(testsupport::ConsoleText(utf8), std::regex(R"([\\^$.|?*+()\[\]{}])"), "\\$&");
}

// The line that opens an error message and names where it arose, as a
// regular expression.
std::string At(const std::string& file, const std::string& function)
{
    return "At " + file + "\\.cpp\\([0-9]+\\) in " + function + "\\(\\)\n";
}
const std::string kFlawedStream = At("Decompression", "expand_bzip2") + "an error occurred while decompression";

#ifndef _WIN32
// A tmpfs mounted at `at` (an empty directory, made as needed) for the
// guard's lifetime; `error` says why not where this machine refuses to mount.
struct TmpfsMount {
    fs::path at;
    std::string error;
    TmpfsMount(const fs::path& where, const char* size) : at(where)
    {
        fs::create_directories(at);
        if (::mount("tmpfs", at.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
            error = std::strerror(errno);
            at.clear();
        }
    }
    ~TmpfsMount()
    {
        if (!at.empty()) ::umount2(at.c_str(), MNT_DETACH);
    }
};
#endif

Result Updater(const fs::path& root, const std::string& package = "up.kwp")
{
    return RunProgram({KW_UPDATER_EXE, package}, root);
}

void Put(const fs::path& root, const std::string& relative, const std::string& content, std::time_t mtime)
{
    WriteFile(root / relative, content);
    fs::last_write_time(root / relative, mtime);
}

// The names of the entries SnapshotTree finds.
std::vector<std::string> Entries(const fs::path& root, const std::set<std::string>& skip = {})
{
    std::vector<std::string> names;
    for (const auto& entry : SnapshotTree(root, skip)) names.push_back(entry.first);
    return names;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        keys_.reset(new TempDir);
        const Result r = RunProgram({KWPACK_EXE, "keygen", "key.pem", "lmfile", "--bits", "1024"}, keys_->path());
        ASSERT_EQ(0, r.exit_code) << r.err;
    }
    static void TearDownTestSuite() { keys_.reset(); }

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
    fs::path root() const { return root_; }
    fs::path package() const { return root() / "up.kwp"; }

    // A fresh installation at 1.0.
    void Install()
    {
        fs::remove_all(root());
        testsupport::CopyTree(old_tree(), root());
    }

    static fs::path Key() { return keys_->path() / "key.pem"; }

    // KWPack make in `dir` on its trees old and new, `options` added.
    static Result Make(const fs::path& dir, const std::string& target, const std::string& from = "1.0",
                       std::vector<std::string> options = {})
    {
        const std::vector<std::string> make = {KWPACK_EXE, "make", "old", "new", target, "--key", Key().string(),
                                               "--from", from, "--to", "1.1"};
        options.insert(options.begin(), make.begin(), make.end());
        return RunProgram(options, dir);
    }
    void MakePackage(const fs::path& target, const std::string& from = "1.0")
    {
        const Result r = Make(dir_.path(), target.string(), from, {"--quiet", "--force", "--jobs", "2"});
        ASSERT_EQ(0, r.exit_code) << r.err;
    }

    // KWPack check of up.kwp against the installation.
    Result Check(bool json = false)
    {
        std::vector<std::string> argv = {KWPACK_EXE, "check", "up.kwp", ".", "--lmfile", "../lmfile"};
        if (json) argv.push_back("--json");
        return RunProgram(argv, root());
    }

    // Packs a tree scanned beforehand, names a scan would refuse included.
    void BuildFromTree(const fs::path& source, const kwpack::TreeEntry& tree)
    {
        kwpack::BuildOptions options;
        options.source = source;
        options.package = package();
        options.key = Key();
        options.force = true;
        kwpack::BuildPackageFromTree(testsupport::SystemEnv(), options, tree);
    }

    // The package with `count` bytes at `offset` replaced.
    void Patch(std::size_t offset, const std::string& bytes)
    {
        std::string data = ReadFile(package());
        data.replace(offset, bytes.size(), bytes);
        WriteFile(package(), data);
    }

    // The installation holds the new tree, its entries in `skip` aside, and
    // nothing of the update.
    void ExpectUpdatedAndClean(const std::set<std::string>& skip = {})
    {
        EXPECT_EQ(SnapshotTree(new_tree()), SnapshotTree(root(), skip));
        EXPECT_FALSE(fs::exists(package()));
        EXPECT_FALSE(fs::exists(root() / ".update"));
        EXPECT_FALSE(fs::exists(root() / ".backup"));
    }

    // A run of the updater on `package` in the installation that completes
    // the update and leaves nothing of it behind.
    Result ExpectCompletes(const std::string& package = "up.kwp", const std::set<std::string>& skip = {})
    {
        const Result r = Updater(root(), package);
        EXPECT_EQ(0, r.exit_code) << r.err;
        ExpectUpdatedAndClean(skip);
        return r;
    }

    // A rerun after the failure is mended starts at `stage` and completes.
    void ExpectResumedAt(int stage)
    {
        const Result r = ExpectCompletes();
        EXPECT_EQ(0u, r.out.find("Begin Stage " + std::to_string(stage) + "/4\n")) << r.out;
    }

    // A run that fails after recording `stage` (1 to 3): the extraction
    // directory blocked by a file, the installation edited, a file where a
    // new directory goes. Mend(stage) takes the cause away again.
    Result FailAfterStage(int stage)
    {
        if (stage == 1) WriteFile(root() / ".update/up", "in the way");
        if (stage == 2) WriteFile(root() / "readme.txt", "edited by hand\n");
        if (stage == 3) WriteFile(root() / "docs", "in the way");
        return Updater(root());
    }
    void Mend(int stage)
    {
        if (stage == 1) fs::remove(root() / ".update/up");
        if (stage == 2) testsupport::CopyTree(old_tree(), root());
        if (stage == 3) fs::remove(root() / "docs");
    }

    void ExpectFailure(const Result& r, const std::string& error_pattern)
    {
        EXPECT_EQ(1, r.exit_code);
        EXPECT_TRUE(std::regex_match(r.err, std::regex("Error: " + error_pattern + "\n"))) << r.err;
        EXPECT_TRUE(std::regex_search(r.out, std::regex("Update failed.\nPress enter key to exit updater.\n$")))
            << r.out;
    }

    static inline std::unique_ptr<TempDir> keys_;
    TempDir dir_;
    fs::path root_ = dir_ / "inst"; // the installation under test
};

const char kProgress[] = "( progress: [0-9]{9} / [0-9]{9}\r)+";

TEST_F(EndToEnd, FullUpdatePrintsEveryStageAndLeavesExactlyTheNewTree)
{
    MakePackage(package());
    const Result r = ExpectCompletes();
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
                                 " copy file: docs/" + ConsolePattern(kJapaneseName) + "\n"
                                 "\nStage 4 Completed!\nUpdate was completed successfully.\n"
                                 "Press enter key to exit updater.\n";
    EXPECT_TRUE(std::regex_match(r.out, std::regex(expected))) << r.out;
    // The last progress line of a stage reaches the total.
    EXPECT_TRUE(std::regex_search(r.out, std::regex(" progress: ([0-9]{9}) / \\1\r\n\nStage 1"))) << r.out;
    EXPECT_TRUE(fs::exists(root() / "docs" / kJapaneseName));
}

// Stage `stage` in `out` reads more than 2 MB in steps of `step` and prints
// a progress line for the first step, then one for each step that passes
// another 4096 bytes, and one for the step that reaches the total.
void ExpectProgress(const std::string& out, int stage, std::uint64_t step)
{
    SCOPED_TRACE(stage);
    const std::size_t from = out.find("Begin Stage " + std::to_string(stage) + "/4"), to = out.find("Completed!", from);
    const std::string text = out.substr(from, to - from);
    const std::regex line(" progress: ([0-9]{9}) / ([0-9]{9})\r");
    std::vector<std::uint64_t> printed, expected;
    std::uint64_t total = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
        printed.push_back(std::stoull((*it)[1]));
        total = std::stoull((*it)[2]);
    }
    for (std::uint64_t done = 0, threshold = 0; done < total;) {
        done = std::min(done + step, total);
        if (done < threshold) continue;
        expected.push_back(done);
        threshold = std::min<std::uint64_t>(threshold + 4096, total);
    }
    EXPECT_EQ(expected, printed);
    EXPECT_GT(total, 2000000u);
}

TEST_F(EndToEnd, LargePackagesReportProgressInKeySizedAndDecompressionSteps)
{
    // Incompressible content: pieces of every size in both stages, and
    // several bzip2 blocks for the decoding threads.
    const testsupport::Bytes random = testsupport::RandomBytes(2500000, 11);
    Put(new_tree(), "bin/big.dat", std::string(random.begin(), random.end()), 1600000500);
    MakePackage(package());
    const Result r = ExpectCompletes();
    ExpectProgress(r.out, 1, ReadFile(dir_ / "lmfile").size());
    ExpectProgress(r.out, 2, 65536);
}

TEST_F(EndToEnd, PackageNamedWithoutDirectoryRunsFromTheInstallationRoot)
{
    MakePackage(package());
    // A name whose CP932 form would come back as another (〜 as ～) is refused
    // by name before anything is made.
    const std::string wave = "up\xE3\x80\x9C" "1.kwp";
    fs::copy_file(package(), root() / wave);
    const Result refused = Updater(root(), wave);
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_EQ(0u, refused.err.find("Error: cannot convert \"")) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("exactly")) << refused.err;
    EXPECT_FALSE(fs::exists(root() / ".update"));
    fs::remove(root() / wave);

    ExpectCompletes("up.kwp");
}

TEST_F(EndToEnd, CorruptPackagesStopStageOneAndAGoodPackageThenCompletes)
{
    const std::size_t key_size = ReadFile(dir_ / "lmfile").size();
    MakePackage(dir_ / "good.kwp");
    const std::string good = ReadFile(dir_ / "good.kwp");
    const std::string at_decrypt = At("PackageReader", "decrypt"), at_read_key = At("PackageReader", "read_key");
    const auto flip = [&](std::size_t at, char bits) { Patch(at, std::string(1, static_cast<char>(good[at] ^ bits))); };

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
        {"altered body", [&] { flip(good.size() - 40, 1); }, at_decrypt + "hash unmatched"},
        {"altered key block", [&] { flip(8 + 3, 0x10); }, at_decrypt + "illegal cypher text"},
        {"missing key file", [&] { fs::remove(root() / "bin/lmfile"); }, at_read_key + "cannot open key file"},
        {"empty key file", [&] { WriteFile(root() / "bin/lmfile", ""); }, at_read_key + "empty key file"},
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
        ExpectCompletes();
    }
}

TEST_F(EndToEnd, BrokenDecryptedDataStopsStageTwo)
{
    MakePackage(package());
    // Stage 1 done, as a first run leaves it, then the temporary file damaged.
    WriteFile(root() / ".update/up.stage", Le32(1));

    WriteFile(root() / ".update/up.pkg.bz2", "BZh91AY&SY this is not bzip2 data at all");
    ExpectFailure(Updater(root()), "invalid input data");

    // A bzip2 stream that is whole but holds a cut archive.
    WriteFile(dir_ / "cut", "KWUP0111" + std::string(20, '\x01'));
    if (!testsupport::HasHostTools()) GTEST_SKIP() << "needs the bzip2 tool of a Linux host";
    const Result packed = testsupport::RunHostTool({"bzip2", "-c", "cut"}, dir_.path());
    ASSERT_EQ(0, packed.exit_code) << packed.err;
    WriteFile(root() / ".update/up.pkg.bz2", packed.out);
    ExpectFailure(Updater(root()), kFlawedStream);
    EXPECT_EQ(Le32(1), ReadFile(root() / ".update/up.stage"));
}

TEST_F(EndToEnd, EachStageResumesAfterItsFailureIsMended)
{
    MakePackage(dir_ / "good.kwp");
    const std::vector<std::string> errors = {
        "Error: At ArchiveExpansion.cpp", // the extraction directory is blocked by a file
        "version unmatched!",             // the installation is not the old version
        "Error: ",                        // a file stands where a new directory goes
    };
    for (int stage = 1; stage <= 3; ++stage) {
        SCOPED_TRACE(stage);
        Install();
        WriteFile(package(), ReadFile(dir_ / "good.kwp"));
        const Result r = FailAfterStage(stage);
        EXPECT_EQ(1, r.exit_code);
        EXPECT_NE(std::string::npos, r.err.find(errors[stage - 1])) << r.err;
        EXPECT_EQ(Le32(stage), ReadFile(root() / ".update/up.stage"));
        if (stage == 3) {
            EXPECT_EQ("readme 1.1, longer\n", ReadFile(root() / "readme.txt")) << "replaced before the failure";
            EXPECT_EQ("readme 1.0\n", ReadFile(root() / ".backup/1.0/readme.txt"));
        }
        Mend(stage);
        ExpectResumedAt(stage + 1);
    }
}

// KWPack check and the updater follow one rule for every stage record.
TEST_F(EndToEnd, CheckAndTheUpdaterAgreeOnEveryRecordedStage)
{
    MakePackage(dir_ / "good.kwp");
    for (const std::int32_t recorded : {-1, 0, 1, 2, 3, 4, 5}) {
        SCOPED_TRACE(recorded);
        Install();
        WriteFile(package(), ReadFile(dir_ / "good.kwp"));
        if (recorded >= 1) {
            FailAfterStage(std::min(recorded, 3));
            Mend(std::min(recorded, 3));
        }
        if (recorded > 3 || recorded < 0) WriteFile(root() / ".update/up.stage", Le32(recorded));
        const Result check = Check();
        const Result update = Updater(root());
        EXPECT_EQ(update.exit_code == 0 ? 0 : 3, check.exit_code) << check.out << update.err;
        EXPECT_EQ(update.err.find("unknown stage") != std::string::npos,
                  check.out.find("would fail: unknown stage") != std::string::npos)
            << check.out << update.err;
    }
}

TEST_F(EndToEnd, LinksPlantedInTheWorkingTreeAreReplacedNeverFollowed)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege that Windows programs do not have by default";
#endif
    MakePackage(package());
    WriteFile(dir_ / "outside/victim.txt", "outside");
    fs::create_directories(root() / ".update/up");
    fs::create_symlink(dir_ / "outside/victim.txt", root() / ".update/up.pkg.bz2");
    fs::create_symlink(dir_ / "outside/victim.txt", root() / ".update/up/readme.txt");
    fs::create_directory_symlink(dir_ / "outside", root() / ".update/up/bin");
    ExpectCompletes();
    EXPECT_EQ("outside", ReadFile(dir_ / "outside/victim.txt"));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir_ / "outside"), fs::directory_iterator()));
}

// Packages rebuild byte for byte: copies of the same trees made a second
// apart (with creation times of their own) give the same package, with and
// without SOURCE_DATE_EPOCH.
TEST_F(EndToEnd, TheSameTreesGiveTheSamePackageBytes)
{
    const auto make = [&](const std::string& copy) {
        testsupport::CopyTree(old_tree(), dir_ / copy / "old");
        testsupport::CopyTree(new_tree(), dir_ / copy / "new");
        const Result r = Make(dir_ / copy, "p.kwp");
        EXPECT_EQ(0, r.exit_code) << r.err;
        return ReadFile(dir_ / copy / "p.kwp");
    };
    const std::string first = make("a");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(first == make("b"));
    testsupport::SetEnvironment("SOURCE_DATE_EPOCH", "1700000000");
    const std::string dated = make("c");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(dated == make("d"));
    testsupport::SetEnvironment("SOURCE_DATE_EPOCH", "");
    EXPECT_FALSE(dated == first) << "the script takes the given time";
}

// "KWPack check" on the installation at 1.0, with one file edited, and half
// updated; each prediction is then borne out by the updater, and the check
// itself changes nothing.
TEST_F(EndToEnd, CheckPredictsTheUpdateAndChangesNothing)
{
    MakePackage(package());
    // Runs the check as text and as JSON; both must carry the same facts.
    const auto check = [&](int expected_exit) {
        const auto before = SnapshotTree(root());
        const Result text = Check(), json = Check(true);
        EXPECT_EQ(expected_exit, text.exit_code) << text.out << text.err;
        EXPECT_EQ(expected_exit, json.exit_code) << json.err;
        EXPECT_EQ(before, SnapshotTree(root())) << "the check changed the installation";
        const nlohmann::json report = nlohmann::json::parse(json.out);
        EXPECT_EQ(expected_exit == 0, report.at("would_complete").get<bool>());
        EXPECT_NE(std::string::npos, text.out.find(expected_exit == 0 ? "\nthe update would complete\n"
                                                                       : "\nthe update would fail: "))
            << text.out;
        std::string listed;  // every finding as text prints it
        for (const char* list : {"version_check", "entries"})
            for (const nlohmann::json& f : report.at(list)) {
                const std::string action = f.at("action");
                listed += "  " + action + std::string(std::max<std::size_t>(2, 18 - action.size()), ' ') +
                          f.at("path").get<std::string>();
                if (f.contains("installed_digest"))
                    listed += "  (installed " + f.at("installed_digest").get<std::string>() + ", expected " +
                              f.at("expected_digest").get<std::string>() + ")";
                listed += "\n";
            }
        std::string printed;
        std::istringstream lines(text.out);
        for (std::string line; std::getline(lines, line);)
            if (line.compare(0, 2, "  ") == 0) printed += line + "\n";
        EXPECT_EQ(listed, printed);
        return report;
    };
    const auto actions = [](const nlohmann::json& report, const char* list) {
        std::string all;
        for (const nlohmann::json& f : report.at(list))
            all += f.at("action").get<std::string>() + " " + f.at("path").get<std::string>() + "; ";
        return all;
    };
    const std::string same_both_times = "create directory docs; replace bin/main.dll; create directory bin/plugins; "
                                        "add bin/plugins/p.dll; add docs/" + std::string(kJapaneseName) + "; ";

    nlohmann::json report = check(0);
    EXPECT_EQ("old version readme.txt; old version bin/main.dll; ", actions(report, "version_check"));
    EXPECT_EQ("replace readme.txt; add news.txt; " + same_both_times, actions(report, "entries"));

    // An edited file is named with its digest and the one the script expects.
    WriteFile(root() / "bin/main.dll", "edited");
    report = check(3);
    const nlohmann::json& refused = report.at("version_check").at(1);
    EXPECT_EQ("refuse", refused.at("action"));
    EXPECT_EQ(testsupport::OpenSslSha256Text("edited"), refused.at("installed_digest"));
    EXPECT_EQ(testsupport::OpenSslSha256Text(std::string(70000, 'm')), refused.at("expected_digest"));
    EXPECT_EQ("version check refuses bin/main.dll", report.at("failure"));
    const Result failed = Updater(root());
    EXPECT_NE(std::string::npos, failed.err.find("version unmatched!")) << failed.err;

    // Stage 4 stopped by a file where a directory goes, then mended.
    Install();
    MakePackage(package());
    WriteFile(root() / "docs", "in the way");
    ASSERT_EQ(1, Updater(root()).exit_code);
    fs::remove(root() / "docs");
    report = check(0);
    EXPECT_EQ(3, report.at("recorded_stage"));
    EXPECT_EQ("", actions(report, "version_check"));
    EXPECT_EQ("already new readme.txt; skip news.txt; " + same_both_times, actions(report, "entries"));
    ExpectResumedAt(4);
}

// A second run started while the first is under way refuses at once and
// changes nothing; the first completes. Many small files keep it busy.
TEST_F(EndToEnd, ASecondRunRefusesWhileTheFirstIsUnderWay)
{
    for (int i = 0; i < 400; ++i) Put(new_tree(), "many/f" + std::to_string(i) + ".txt", std::to_string(i), 1600000600);
    MakePackage(package());
    testsupport::RunningProgram first({KW_UPDATER_EXE, "up.kwp"}, root());
    ASSERT_TRUE(first.WaitForOutput("Begin Stage 2/4"));
    const Result second = Updater(root());
    const Result first_result = first.Wait();
    ExpectFailure(second, At("StageRecord", "update") + "another update is running in this installation");
    EXPECT_EQ(std::string::npos, second.out.find("Begin Stage")) << second.out;
    EXPECT_EQ(0, first_result.exit_code) << first_result.err;
    ExpectUpdatedAndClean();
}

// A run ended from outside once stage 4 has begun (a crash, a power cut)
// completes when started again, its lock on the installation gone with it.
// Many small files keep stage 4 busy.
TEST_F(EndToEnd, ARunEndedDuringStageFourCompletesWhenStartedAgain)
{
    for (int i = 0; i < 300; ++i) Put(new_tree(), "many/f" + std::to_string(i) + ".txt", std::to_string(i), 1600000600);
    MakePackage(package());
    {
        testsupport::RunningProgram run({KW_UPDATER_EXE, "up.kwp"}, root());
        ASSERT_TRUE(run.WaitForOutput("Begin Stage 4/4"));
        run.Kill();
        EXPECT_EQ(std::string::npos, run.Wait().out.find("Stage 4 Completed")) << "ended too late";
    }
    EXPECT_EQ(Le32(3), ReadFile(root() / ".update/up.stage"));
    ExpectResumedAt(4);
}

// The longest names a file system holds, for installed files and for the
// package, beside the user's own files that look like working files.
TEST_F(EndToEnd, LongestNamesWorkAndTheUsersOwnFilesStayUntouched)
{
#ifdef _WIN32
    GTEST_SKIP() << "a name as long as the file system allows puts the path past MAX_PATH on Windows";
#endif
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

        EXPECT_EQ("", ExpectCompletes(name, {"readme.txt.kwtmp", "bin/main.dll.kwtmp"}).err);
        EXPECT_FALSE(fs::exists(root() / name));
        EXPECT_EQ("the user's notes\n", ReadFile(root() / "readme.txt.kwtmp"));
        EXPECT_EQ("the user's directory\n", ReadFile(root() / "bin/main.dll.kwtmp/keep.txt"));
    }
}

// Windows takes names that differ only in case for one file, and so does the
// update on every host: a rename by case alone with new content is a
// replacement that ends with the new spelling (never an `add` that finds the
// old file and skips); two such names in one folder are refused, by KWPack
// and, for a package made otherwise, by stage 2 before the installation
// changes.
TEST_F(EndToEnd, NamesThatDifferOnlyInCaseFollowWindows)
{
    fs::remove(new_tree() / "readme.txt");
    Put(new_tree(), "README.txt", "readme 1.1, renamed\n", 1600000000);
    MakePackage(package());
    const Result check = Check();
    EXPECT_NE(std::string::npos, check.out.find("  replace           README.txt\n")) << check.out;
    const Result r = Updater(root());
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find(" copy file: README.txt\n")) << r.out;
    if (testsupport::UnderWine()) {
        // Wine cannot rename a file by case alone (Windows can): the old
        // spelling stays there, with the new content.
        EXPECT_EQ("readme 1.1, renamed\n", ReadFile(root() / "README.txt"));
        EXPECT_FALSE(fs::exists(root() / ".update"));
    } else {
        ExpectUpdatedAndClean();
    }

    const fs::path source = dir_ / "twins";
    Put(source, "update.xml", "<u from='1.0' to='1.1'><dir path='/'><add name='Readme.txt'/></dir></u>", 1600000000);
    Put(source, "a.txt", "one", 1600000000);
    Put(source, "b.txt", "other", 1600000000);
    kwpack::TreeEntry tree = kwpack::ScanTree(testsupport::SystemEnv(), source);
    tree.children[0].narrow_name = "Readme.txt";
    tree.children[1].narrow_name = "README.txt";
    Install();
    BuildFromTree(source, tree);
    const auto before = SnapshotTree(root());
    ExpectFailure(Updater(root()), At("ArchiveExpansion", "construct_tree") + "names in package that Windows "
                                   "cannot tell apart: \"Readme.txt\" and \"README.txt\"");
    EXPECT_EQ(before, SnapshotTree(root(), {".update"}));

    if (testsupport::UnderWine()) GTEST_SKIP() << "a Windows folder cannot hold two such names";
    Put(new_tree(), "readme.TXT", "a twin\n", 1600000000);
    const Result refused = Make(dir_.path(), "twins.kwp");
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_NE(std::string::npos, refused.err.find("README.txt and ")) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("readme.TXT differ only in case")) << refused.err;
}

// A read-only installed file is replaced and keeps the flag, and its
// read-only backup goes with the clean-up.
TEST_F(EndToEnd, AReadOnlyInstalledFileIsReplacedAndKeepsTheFlag)
{
    MakePackage(package());
    testsupport::SystemEnv().SetReadOnly(root() / "readme.txt", true);
    EXPECT_EQ("", ExpectCompletes().err);
    EXPECT_TRUE(testsupport::SystemEnv().Status(root() / "readme.txt", false).read_only);
    EXPECT_FALSE(testsupport::SystemEnv().Status(root() / "news.txt", false).read_only);
}

// Installations whose deepest paths are about 270 and 400 characters long
// update completely, with a from version of 20 characters that the backups'
// paths carry. Under Wine this shows that no call is left that refuses them.
TEST_F(EndToEnd, DeepInstallationsUpdateCompletely)
{
    const std::size_t base = fs::absolute(root()).native().size() + 1;
    for (const std::size_t deepest : {270u, 400u}) {
        SCOPED_TRACE(deepest);
        std::string folder;
        while (base + folder.size() + 60 < deepest) folder += std::string(50, 'd') + "/";
        const std::string file = folder + std::string(deepest - base - folder.size(), 'f');
        Put(old_tree(), file, "deep 1.0\n", 1500000000);
        Put(new_tree(), file, "deep 1.1\n", 1600000000);
        Put(new_tree(), folder + "added.txt", "added\n", 1600000100);
        Install();
        MakePackage(package(), std::string(20, '9'));
        ExpectCompletes();
    }
}

// A full disk, on a small file system mounted for the test: stage 1 fails, a
// rerun on the still-full disk fails as plainly, and once space is freed a
// run completes.
TEST_F(EndToEnd, AFullDiskStopsTheUpdateUntilSpaceIsFreed)
{
#ifdef _WIN32
    GTEST_SKIP() << "mounting a small file system needs Linux";
#else
    const fs::path disk = dir_ / "disk";
    const TmpfsMount mount(disk, "2m");
    if (!mount.error.empty()) GTEST_SKIP() << "cannot mount a small file system here: " << mount.error;
    root_ = disk / "inst";
    Install();
    MakePackage(package());
    {
        std::ofstream filler((disk / "filler").string(), std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()).flush()) {
        }
    }

    for (const char* run : {"stage 1 on a full disk", "a rerun on the still-full disk"}) {
        SCOPED_TRACE(run);
        const Result r = Updater(root());
        EXPECT_EQ(1, r.exit_code);
        EXPECT_EQ(0u, r.err.find("Error: ")) << r.err;
        const fs::path stage_file = root() / ".update/up.stage";
        EXPECT_TRUE(!fs::exists(stage_file) || fs::file_size(stage_file) == 4) << "never a short stage file";
    }
    fs::remove(disk / "filler");
    ExpectCompletes();
#endif
}

// A folder of the installation on another volume (a mount point): its files
// are written there under a fresh name, flushed and renamed into place, since
// a rename from the update directory would have to copy and delete.
TEST_F(EndToEnd, AFolderOnAnotherVolumeIsUpdatedInPlace)
{
#ifdef _WIN32
    GTEST_SKIP() << "mounting a file system needs Linux";
#else
    MakePackage(package());
    const fs::path bin = root() / "bin", saved = dir_ / "bin-1.0";
    testsupport::CopyTree(bin, saved);
    fs::remove_all(bin);
    const TmpfsMount mount(bin, "16m");
    if (!mount.error.empty()) GTEST_SKIP() << "cannot mount a file system here: " << mount.error;
    testsupport::CopyTree(saved, bin);
    EXPECT_EQ("", ExpectCompletes().err);
#endif
}

// Packages whose archive names try to leave the extraction directory or
// name what Windows cannot hold. A scan refuses such names, so they are put
// into the scanned tree by hand.
TEST_F(EndToEnd, UnsafeArchiveNamesAreRefusedAndNothingLandsOutside)
{
    const fs::path source = dir_ / "source";
    Put(source, "update.xml", "<u from=\"1.0\" to=\"1.1\"></u>", 1600000000);
    Put(source, "d1/d2/evil.txt", "evil", 1600000000);
    Put(source, "evil.txt", "evil", 1600000000);
    const kwpack::TreeEntry scanned = kwpack::ScanTree(testsupport::SystemEnv(), source);

    struct Case {
        std::string file_name, outer_dir_name, inner_dir_name;
    };
    const std::vector<Case> cases = {
        {"..\\..\\evil.txt", "d1", "d2"}, {"c:evil.txt", "d1", "d2"}, {"/evil.txt", "d1", "d2"},
        {std::string("evil.txt\0x", 10), "d1", "d2"}, {"evil.txt", "..", ".."}, {"evil.txt", "d1", "."},
        {"evil.txt", "", "d2"},  {"..", "d1", "d2"},
        // Names that Windows cannot hold.
        {"CON.txt", "d1", "d2"}, {"evil.txt", "a.", "d2"}, {"evil.txt", "d1", "x?y"},
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
        const std::string at = At("ArchiveExpansion", "construct_tree::node_action::operator \\(\\)");
        EXPECT_TRUE(std::regex_search(r.err, std::regex("^Error: " + at + "unsafe name"))) << r.err;
        // Only this package's working area changed, and nothing evil was written.
        EXPECT_EQ(before, Entries(dir_.path(), {"inst/.update"}));
        // Ordinary entries may have been written before the unsafe one, but
        // only inside the extraction directory.
        for (const std::string& entry : Entries(root() / ".update"))
            if (entry.find("evil") != std::string::npos) {
                EXPECT_EQ(0u, entry.find("up/d1/d2/")) << entry;
            }
        EXPECT_EQ(Le32(1), ReadFile(root() / ".update/up.stage"));
    }

    // A name longer than an archive may carry is a flaw of the stream itself.
    kwpack::TreeEntry tree = scanned;
    tree.children.back().narrow_name = std::string(300, 'n');
    Install();
    BuildFromTree(source, tree);
    ExpectFailure(Updater(root()), kFlawedStream);
    EXPECT_FALSE(fs::exists(root() / ".update/up")) << "nothing is written from a flawed stream";
}

#ifdef _WIN32
// Another process holds an installed file open (the running product, a
// scanner): without sharing at all, or sharing reading but not deletion,
// which hashing passes but replacing does not. A hold that stays fails the
// update, naming the file as in use, before the file changes; a rerun after
// the release completes.
TEST_F(EndToEnd, AFileInUseByAnotherProcessFailsNamingItAndARerunCompletes)
{
    for (const DWORD sharing : {DWORD(0), DWORD(FILE_SHARE_READ)}) {
        SCOPED_TRACE(sharing);
        Install();
        MakePackage(package());
        const HANDLE held =
            ::CreateFileW((root() / "readme.txt").c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        const Result failed = Updater(root());
        ::CloseHandle(held);
        EXPECT_EQ(1, failed.exit_code);
        EXPECT_NE(std::string::npos, failed.err.find("readme.txt is in use by another process")) << failed.err;
        EXPECT_EQ("readme 1.0\n", ReadFile(root() / "readme.txt"));
        ExpectCompletes();
    }
}

#endif

} // namespace
