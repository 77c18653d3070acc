#include "KWUpdater.h"
#include "KWUpdaterError.h"
#include "StageRecord.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

namespace fs = boost::filesystem;
using namespace kw::updater;
using testing::HasSubstr;
using testsupport::Capture;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Stand-in stage operations that log their calls and can fail on demand.
struct FakeStages {
    std::vector<std::string> calls;
    std::string fail_in;
    bool cleanup_fails = false;

    void Note(const std::string& name)
    {
        calls.push_back(name);
        if (name == fail_in) throw KWUpdaterCommonError("stand-in failure");
    }

    StageOperations Operations()
    {
        StageOperations op;
        op.decrypt = [this](const Context&, const UpdatePaths& paths) {
            Note("decrypt");
            key_file = paths.key_file.string();
        };
        op.expand = [this](const Context&, const UpdatePaths&) { Note("expand"); };
        op.replace = [this](const ScriptRun& run, int stage) {
            Note("replace" + std::to_string(stage));
            if (stage == 3) {
                FinishStage(run.context, run.paths.stage_file, 3);
                run.context.listener.BeginStage(4);
            }
        };
        op.post_process = [this](const Context&, const UpdatePaths&, Backups&) {
            Note("post_process");
            if (cleanup_fails) throw std::runtime_error("disk gone");
        };
        op.remove_package = [this](Env& env, const fs::path& package) {
            Note("remove_package");
            env.Remove(package);
        };
        return op;
    }
    std::string key_file;
};

void StoreStage(const fs::path& root, const std::string& bytes)
{
    fs::create_directories(root / ".update");
    WriteFile(root / ".update" / "pkg.stage", bytes);
}

std::string Le32(std::int32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

struct RunResult {
    int code;
    std::string out;
    std::string err;
};

RunResult RunDriver(const std::string& package, const StageOperations& operations)
{
    std::istringstream in;
    std::string program = "KWUpdater";
    std::vector<char*> argv = {&program[0], const_cast<char*>(package.c_str())};
    Capture out(std::cout), err(std::cerr);
    const int code = RunUpdater(2, argv.data(), operations, &in);
    return {code, out.text(), err.text()};
}

} // namespace

TEST(UpdatePaths, DerivesEveryWorkingPathFromThePackagePath)
{
    const UpdatePaths plain(testsupport::SystemEnv(), "pkg.kwp");
    EXPECT_EQ(fs::path(), plain.base_dir);
    EXPECT_EQ(fs::path(".update"), plain.update_dir);
    EXPECT_EQ(fs::path(".backup"), plain.backup_dir);
    EXPECT_EQ(fs::path("bin/lmfile"), plain.key_file);
    EXPECT_EQ("pkg", plain.stem);
    EXPECT_EQ(fs::path(".update/pkg"), plain.extract_dir);
    EXPECT_EQ(fs::path(".update/pkg.pkg.bz2"), plain.temp_package);
    EXPECT_EQ(fs::path(".update/pkg.stage"), plain.stage_file);

    const UpdatePaths nested(testsupport::SystemEnv(), "inst/dir/update.1.1.kwp");
    EXPECT_EQ(fs::path("inst/dir"), nested.base_dir);
    EXPECT_EQ("update.1.1", nested.stem);
    EXPECT_EQ(fs::path("inst/dir/.update/update.1.1.stage"), nested.stage_file);

    EXPECT_EQ("noext", UpdatePaths(testsupport::SystemEnv(), "a/noext").stem);
    EXPECT_EQ(".", UpdatePaths(testsupport::SystemEnv(), "a/.").stem);
    EXPECT_EQ("..", UpdatePaths(testsupport::SystemEnv(), "a/..").stem);
}

TEST(Driver, FullRunPrintsEveryStageAndCleansUp)
{
    TempDir root;
    const std::string package = (root / "pkg.kwp").string();
    WriteFile(package, "package");
    FakeStages fake;
    const RunResult r = RunDriver(package, fake.Operations());

    EXPECT_EQ(0, r.code);
    EXPECT_EQ("Begin Stage 1/4\n\nStage 1 Completed!\n"
              "Begin Stage 2/4\n\nStage 2 Completed!\n"
              "Begin Stage 3/4\n\nStage 3 Completed!\n"
              "Begin Stage 4/4\n\nStage 4 Completed!\n"
              "Update was completed successfully.\n"
              "Press enter key to exit updater.\n",
              r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ((std::vector<std::string>{"decrypt", "expand", "replace3", "post_process", "remove_package"}), fake.calls);
    EXPECT_EQ((root / "bin/lmfile").string(), fake.key_file);
    EXPECT_FALSE(fs::exists(package));
    EXPECT_EQ(Le32(4), ReadFile(root / ".update" / "pkg.stage")) << "the stand-in clean-up leaves the record";
}

TEST(Driver, FirstRunCreatesUpdateDirectoryAndRecordsStageOneAsFourBytes)
{
    TempDir root;
    const std::string package = (root / "pkg.kwp").string();
    FakeStages fake;
    fake.fail_in = "expand";
    const RunResult r = RunDriver(package, fake.Operations());

    EXPECT_EQ(1, r.code);
    EXPECT_TRUE(fs::is_directory(root / ".update"));
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), ReadFile(root / ".update" / "pkg.stage"));
    EXPECT_FALSE(fs::exists(root / ".update" / "pkg.kwtmp"));
    EXPECT_EQ("Begin Stage 1/4\n\nStage 1 Completed!\nBegin Stage 2/4\nUpdate failed.\nPress enter key to exit updater.\n",
              r.out);
    EXPECT_THAT(r.err, HasSubstr("Error: stand-in failure\n"));
}

TEST(Driver, ResumesAfterTheRecordedStage)
{
    struct Case {
        std::int32_t stored;
        std::vector<std::string> calls;
        std::string first_line;
    };
    const std::vector<Case> cases = {
        {0, {"decrypt", "expand", "replace3", "post_process", "remove_package"}, "Begin Stage 1/4"},
        {1, {"expand", "replace3", "post_process", "remove_package"}, "Begin Stage 2/4"},
        {2, {"replace3", "post_process", "remove_package"}, "Begin Stage 3/4"},
        {3, {"replace4", "post_process", "remove_package"}, "Begin Stage 4/4"},
        // The installation is updated: only the clean-up is left.
        {4, {"post_process", "remove_package"}, "Update was completed successfully."},
    };
    for (const Case& c : cases) {
        TempDir root;
        StoreStage(root.path(), Le32(c.stored));
        FakeStages fake;
        const RunResult r = RunDriver((root / "pkg.kwp").string(), fake.Operations());
        EXPECT_EQ(0, r.code) << c.stored;
        EXPECT_EQ(c.calls, fake.calls) << c.stored;
        EXPECT_EQ(c.first_line, r.out.substr(0, r.out.find('\n'))) << c.stored;
    }
}

TEST(Driver, UnknownStageValuesStopTheRun)
{
    for (std::int32_t stored : {5, 0x7FFFFFFF, -1}) {
        TempDir root;
        StoreStage(root.path(), Le32(stored));
        FakeStages fake;
        const RunResult r = RunDriver((root / "pkg.kwp").string(), fake.Operations());
        EXPECT_EQ(1, r.code);
        EXPECT_TRUE(fake.calls.empty());
        EXPECT_THAT(r.err, HasSubstr("in update()\nunknown stage\n"));
        EXPECT_EQ("Update failed.\nPress enter key to exit updater.\n", r.out);
    }
}

TEST(Driver, BrokenStageFilesAndUpdateDirectoryAreReported)
{
    const std::vector<std::pair<std::function<void(const fs::path&)>, std::string>> cases = {
        {[](const fs::path& root) { StoreStage(root, std::string("\x01\x00", 2)); }, "cannot read stage-file"},
        {[](const fs::path& root) { WriteFile(root / ".update", "not a directory"); }, ".update is not a directory"},
        {[](const fs::path& root) { fs::create_directories(root / ".update" / "pkg.stage"); },
         "stage-file is not a regular file"},
    };
    for (const auto& c : cases) {
        TempDir root;
        c.first(root.path());
        EXPECT_THAT(RunDriver((root / "pkg.kwp").string(), FakeStages().Operations()).err, HasSubstr(c.second));
    }
    // An existing update directory without a record gets one holding 0.
    TempDir root;
    fs::create_directories(root / ".update");
    EXPECT_EQ(0, CheckStage(testsupport::SystemEnv(), root / ".update", root / ".update" / "pkg.stage"));
    EXPECT_EQ(Le32(0), ReadFile(root / ".update" / "pkg.stage"));
}

TEST(Driver, ErrorTextsAreConvertedOnceFromTheirOwnEncoding)
{
    // A file-system error names a native (UTF-8) path, here in a folder
    // without a CP932 form; the program's own errors carry CP932 text (表).
    TempDir root;
    const fs::path folder = root / "andr\xC3\xA9";
    const std::string package = (root / "pkg.kwp").string();
    FakeStages fake;
    StageOperations op = fake.Operations();
    bool native_failure = true;
    op.decrypt = [&](const Context&, const UpdatePaths&) {
        if (native_failure)
            throw fs::filesystem_error("cannot read", folder / "pkg.kwp",
                                       boost::system::errc::make_error_code(boost::system::errc::permission_denied));
    };
    op.expand = [](const Context&, const UpdatePaths&) { throw KWUpdaterCommonError("\x95\x5C"); };
#ifdef _WIN32
    // Narrow text and the console share the ANSI code page: both come out as they are.
    const std::vector<std::string> shown_texts = {"andr\xC3\xA9\\pkg.kwp", "\x95\x5C"};
#else
    const std::vector<std::string> shown_texts = {"andr\xC3\xA9/pkg.kwp", "\xE8\xA1\xA8"};
#endif
    for (const std::string& shown : shown_texts) {
        const RunResult r = RunDriver(package, op);
        EXPECT_EQ(1, r.code);
        EXPECT_THAT(r.err, HasSubstr(shown));
        native_failure = false;
    }
}

TEST(Driver, APackageNameWithoutAStemIsRefusedBeforeAnythingIsTouched)
{
    for (const char* name : {".kwp", "..kwp"}) {
        SCOPED_TRACE(name);
        TempDir root;
        StoreStage(root.path(), Le32(1)); // another package's pending work
        WriteFile(root / ".update" / "pkg.pkg.bz2", "decrypted");
        WriteFile(root / name, "package");
        FakeStages fake;
        const RunResult r = RunDriver((root / name).string(), fake.Operations());
        EXPECT_EQ(1, r.code);
        EXPECT_TRUE(fake.calls.empty());
        EXPECT_THAT(r.err, HasSubstr(std::string("in update()\nunusable package name \"") + name + "\""));
        EXPECT_EQ(Le32(1), ReadFile(root / ".update" / "pkg.stage"));
        EXPECT_EQ("decrypted", ReadFile(root / ".update" / "pkg.pkg.bz2"));
        EXPECT_EQ(4u, std::distance(fs::recursive_directory_iterator(root.path()), fs::recursive_directory_iterator()))
            << "nothing created";
    }
}

TEST(Driver, FailedCleanUpStillReportsSuccessWithTwoLines)
{
    TempDir root;
    const std::string package = (root / "pkg.kwp").string();
    WriteFile(package, "package");
    FakeStages fake;
    fake.cleanup_fails = true;
    const RunResult r = RunDriver(package, fake.Operations());
    EXPECT_EQ(0, r.code);
    EXPECT_EQ("Post porcess was failed.\nYou can delete '.update', '.backup' and 'pkg.kwp' manually.\n", r.err);
    EXPECT_THAT(r.out, HasSubstr("Update was completed successfully.\n"));
    EXPECT_TRUE(fs::exists(package));
}

TEST(Driver, PackageWithoutDirectoryPartUsesTheCurrentDirectory)
{
    TempDir root;
    const fs::path saved = fs::current_path();
    fs::current_path(root.path());
    FakeStages fake;
    const RunResult r = RunDriver("pkg.kwp", fake.Operations());
    fs::current_path(saved);
    EXPECT_EQ(0, r.code);
    EXPECT_EQ("bin/lmfile", fake.key_file);
    EXPECT_TRUE(fs::is_directory(root / ".update"));
}

TEST(Driver, MissingArgumentPrintsUsageAndDoesNotWait)
{
    std::string program = "KWUpdater";
    char* argv[] = {&program[0], nullptr};
    std::istringstream in("x");
    Capture out(std::cout), err(std::cerr);
    EXPECT_EQ(1, RunUpdater(1, argv, StageOperations(), &in));
    EXPECT_EQ("Usage: KWUpdater update-package-file\n", err.text());
    EXPECT_EQ("", out.text());
    EXPECT_EQ('x', in.get()) << "the prompt must not read input";
}

TEST(Driver, TheProgramPrintsUsageWithItsOwnName)
{
    const testsupport::CommandResult r = testsupport::RunProgram({KW_UPDATER_EXE});
    EXPECT_EQ(std::string("Usage: ") + KW_UPDATER_EXE + " update-package-file\n", r.err);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(1, r.exit_code);
}
