// Makes one file-system call of KWUpdater fail (a full disk, a denied
// access) at every write point of an update: the run must fail plainly and a
// later run, with the fault gone, must finish the update.
#include "CrashRuns.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <map>

namespace fs = boost::filesystem;

namespace crash {
namespace {

const char kPostProcessFailed[] = "Post porcess was failed.\n";

bool StartsWithErrorLine(const std::string& err) { return err.compare(0, 7, "Error: ") == 0 && err.size() > 8; }

// The fault library's setting for the error number of an injected failure.
std::string Errno(int error) { return "KW_SHIM_ERRNO=" + std::to_string(error); }

struct timespec MTime(const fs::path& path)
{
    struct stat st;
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

class FaultInjection : public ::testing::Test {
protected:
    // After a failed run: the next one, undisturbed, finishes the update.
    void ExpectLaterRunCompletes() { ExpectCompleted(scenario_, scenario_.RunUpdater()); }

    Scenario scenario_{3, 6};
};

TEST_F(FaultInjection, EveryWritePointFailsPlainlyAndALaterRunCompletes)
{
    const auto started = std::chrono::steady_clock::now();
    const OperationLog log = OperationLog::Record(scenario_);
    std::map<std::string, int> outcomes;
    int injected = 0;
    for (long point = 1; point <= log.size(); ++point) {
#ifdef KW_CRASH_SANITIZED
        const std::vector<int> errors = {point % 2 ? ENOSPC : EACCES};
#else
        const std::vector<int> errors = {ENOSPC, EACCES};
#endif
        for (int error : errors) {
            const Operation& op = log.at(point);
            const int stage = log.StageOf(point);
            SCOPED_TRACE("operation " + std::to_string(point) + " of " + std::to_string(log.size()) + " (" + op.op + " " +
                         op.path + ", stage " + std::to_string(stage) + ") fails with " + std::strerror(error));
            scenario_.Install();
            const ChildResult r = scenario_.RunUpdater({"KW_SHIM_FAIL=" + std::to_string(point), Errno(error)});
            ++injected;
            EXPECT_EQ(std::vector<std::string>(), scenario_.Temporaries());
            const Operation& before = log.at(point > 1 ? point - 1 : point);
            if (op.op == "fsync" && before.op == "rename" && before.path.find(".stage") != std::string::npos) {
                // A stage record stands once renamed: failing to flush its
                // directory could only make a power cut repeat safe work.
                ExpectCompleted(scenario_, r);
                ++outcomes["stage record's directory not flushed, update complete"];
                continue;
            }
            if (stage == 5) {
                // The update is done; only the clean-up failed, as the run says.
                EXPECT_EQ(0, r.exit_code);
                EXPECT_NE(std::string::npos, r.out.find("Update was completed successfully.\n")) << r.out;
                // The clean-up reports its own error; the package's removal
                // that follows it only adds the two closing lines.
                EXPECT_TRUE(point == log.size() || StartsWithErrorLine(r.err)) << r.err;
                EXPECT_NE(std::string::npos, r.err.find(kPostProcessFailed)) << r.err;
                EXPECT_NE(std::string::npos, r.err.find("You can delete '.update', '.backup' and 'up.kwp' manually.\n"))
                    << r.err;
                EXPECT_EQ("", scenario_.Differences(true));
                ++outcomes["clean-up failed, update complete"];
                ExpectLaterRunCompletes();
                continue;
            }
            if (r.exit_code == 0 && op.op == "fsetxattr" && error == EACCES) {
                // A file system that refuses extended attributes only loses
                // the kept creation time.
                EXPECT_EQ("", scenario_.Differences());
                ++outcomes["creation time not kept, update complete"];
                continue;
            }
            EXPECT_EQ(1, r.exit_code) << r.out;
            EXPECT_TRUE(StartsWithErrorLine(r.err)) << r.err;
            EXPECT_EQ(std::string::npos, r.out.find("successfully")) << r.out;
            EXPECT_NE(std::string::npos, r.out.find("Update failed.\n")) << r.out;
            ++outcomes["stage " + std::to_string(stage) + " failed, next run completed"];
            ExpectLaterRunCompletes();
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "[ faults   ] " << injected << " injected faults over " << log.size() << " operations\n";
    for (const auto& o : outcomes) std::cout << "[ faults   ] " << o.second << " x " << o.first << "\n";
    std::cout << "[ faults   ] " << seconds << " s" << std::endl;
}

TEST_F(FaultInjection, ATargetThatCannotBeReplacedKeepsItsBackupAndFinishesLater)
{
    const fs::path target = scenario_.root() / Scenario::JapaneseModifiedFile();
    const fs::path backup = scenario_.root() / ".backup/1.0" / Scenario::JapaneseModifiedFile();
    const std::string old_content = testsupport::ReadFile(scenario_.old_tree() / Scenario::JapaneseModifiedFile());
    const struct timespec old_time = MTime(scenario_.old_tree() / Scenario::JapaneseModifiedFile());

    // It cannot be renamed over.
    const std::vector<std::string> settings = {"KW_SHIM_FAIL_PATH=" + target.string(), "KW_SHIM_FAIL_OP=rename",
                                               Errno(EACCES)};
    scenario_.Install();
    const ChildResult r = scenario_.RunUpdater(settings);
    EXPECT_EQ(1, r.exit_code);
    EXPECT_TRUE(StartsWithErrorLine(r.err)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("Permission denied")) << r.err;
    // Untouched, with its backup kept and stage 3 recorded.
    EXPECT_EQ(old_content, testsupport::ReadFile(target));
    EXPECT_EQ(old_time.tv_sec, MTime(target).tv_sec);
    EXPECT_EQ(old_time.tv_nsec, MTime(target).tv_nsec);
    EXPECT_EQ(old_content, testsupport::ReadFile(backup));
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), scenario_.StageFileBytes());
    EXPECT_EQ(std::vector<std::string>(), scenario_.Temporaries());

    // Denied again on a second try: still nothing lost.
    const ChildResult second = scenario_.RunUpdater(settings);
    EXPECT_EQ(1, second.exit_code);
    EXPECT_EQ(old_content, testsupport::ReadFile(target));
    EXPECT_EQ(old_content, testsupport::ReadFile(backup));
    ExpectLaterRunCompletes();
}

TEST_F(FaultInjection, AStaleExtractedFileThatCannotBeRemovedStopsTheExpansion)
{
    // An interrupted clean-up can leave an extracted file that shares its
    // content with the installed file (placement links it). If it cannot be
    // removed, the expansion must fail rather than write into that content.
    const fs::path installed = scenario_.root() / Scenario::JapaneseModifiedFile();
    const fs::path stale = scenario_.root() / ".update/up" / Scenario::JapaneseModifiedFile();
    const std::string fail_stale = "KW_SHIM_FAIL_PATH=" + stale.string();
    scenario_.Install();
    const std::string old_content = testsupport::ReadFile(installed);
    const ChildResult first = scenario_.RunUpdater({fail_stale, Errno(EACCES)});
    ASSERT_EQ(std::string("\x01\x00\x00\x00", 4), scenario_.StageFileBytes()) << first.err;
    fs::create_directories(stale.parent_path());
    fs::remove(stale);
    fs::create_hard_link(installed, stale);

    const ChildResult r = scenario_.RunUpdater({fail_stale, "KW_SHIM_FAIL_OP=unlink", Errno(EACCES)});
    EXPECT_EQ(1, r.exit_code);
    EXPECT_TRUE(StartsWithErrorLine(r.err)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(stale.string())) << r.err;
    EXPECT_EQ(old_content, testsupport::ReadFile(installed));
    ExpectLaterRunCompletes();
}

} // namespace
} // namespace crash
