#include "KWUpdaterError.h"
#include "Platform.h"
#include "StageDir.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace fs = boost::filesystem;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {
using testsupport::Ticks;
using testsupport::TicksOf;

std::string Failure(void (*f)(const fs::path&), const fs::path& p)
{
    try {
        f(p);
    } catch (const kw::ModuleError& e) {
        return e.What();
    }
    return "";
}
} // namespace

TEST(Platform, FileTimesRoundTripAtHundredNanosecondsForFilesAndDirectories)
{
    TempDir root;
    WriteFile(root / "file", "x");
    fs::create_directory(root / "dir");
    // 2011-06-15 plus an odd count of 100-ns ticks; creation differs from modification.
    const FILETIME created = Ticks(129526272001234567ULL), modified = Ticks(129526272009876543ULL);
    for (const char* name : {"file", "dir"}) {
        StageDir::SetFsAttributes(root / name, created, modified);
        platform::FileHandle handle((root / name).string(), platform::FileHandle::Read, true);
        ASSERT_TRUE(handle.IsOpen()) << name;
        FILETIME c, m;
        ASSERT_TRUE(handle.GetTimes(&c, &m));
        EXPECT_EQ(TicksOf(modified), TicksOf(m)) << name;
        if (!testsupport::UnderWine()) {
            EXPECT_EQ(TicksOf(created), TicksOf(c)) << name;
        }
    }
    WriteFile(root / "copy", "y");
    StageDir::CopyFsAttributes(root / "file", root / "copy");
    platform::FileHandle copy((root / "copy").string(), platform::FileHandle::Read, false);
    FILETIME c, m;
    ASSERT_TRUE(copy.GetTimes(&c, &m));
    EXPECT_EQ(TicksOf(modified), TicksOf(m));
    if (testsupport::UnderWine()) GTEST_SKIP() << testsupport::kNoCreationTimesUnderWine;
    EXPECT_EQ(TicksOf(created), TicksOf(c));
}

TEST(Platform, TimeOperationsFailWithTheirMessages)
{
    TempDir root;
    fs::create_directory(root / "dir");
    EXPECT_EQ("cannot get attributes: CreateFile",
              Failure([](const fs::path& p) { StageDir::CopyFsAttributes(p / "dir", p / "dir"); }, root.path()));
    EXPECT_EQ("source file does not exit",
              Failure([](const fs::path& p) { StageDir::CopyFsAttributes(p / "none", p / "dir"); }, root.path()));
    EXPECT_EQ("target does not exist", Failure([](const fs::path& p) {
                  StageDir::SetFsAttributes(p / "none", FILETIME{}, FILETIME{});
              }, root.path()));
    EXPECT_EQ("cannot create directory",
              Failure([](const fs::path& p) { StageDir::CreateFsDirectory(p / "dir"); }, root.path()));
    EXPECT_EQ("cannot create directory",
              Failure([](const fs::path& p) { StageDir::CreateFsDirectory(p / "a" / "b"); }, root.path()));
}

TEST(Platform, NarrowTextIsCp932AndMapsToUtf8Names)
{
    const std::string sjis("\x95\x5C\x83\x5C.txt"); // 表ソ.txt: both second bytes are 0x5C
    const fs::path native = platform::NarrowToPath(sjis);
    EXPECT_EQ("\xE8\xA1\xA8\xE3\x82\xBD.txt", native.string());
    EXPECT_EQ(sjis, platform::PathToNarrow(native));
#ifdef _WIN32
    // Arguments and the console already use the ANSI code page.
    EXPECT_EQ(sjis, platform::ArgumentToNarrow(sjis.c_str()));
    EXPECT_EQ(sjis, platform::NarrowToConsole(sjis));
#else
    EXPECT_EQ(sjis, platform::ArgumentToNarrow("\xE8\xA1\xA8\xE3\x82\xBD.txt"));
    EXPECT_EQ("\xE8\xA1\xA8\xE3\x82\xBD.txt", platform::NarrowToConsole(sjis));
#endif

    TempDir root;
    StageDir::CreateFsDirectory(root.path() / native);
    EXPECT_TRUE(fs::is_directory(root.path() / "\xE8\xA1\xA8\xE3\x82\xBD.txt"));

    // A name with no exact CP932 form is refused, never changed silently:
    // 〜 and − would come back as ～ and －, and 0xED40 is a second code of
    // the kanji that 0xFA5C has.
    for (const char* name : {"\xF0\x9F\x98\x80", "up\xE3\x80\x9C" "1.kwp", "\xE2\x88\x92"}) {
        EXPECT_THROW(platform::PathToNarrow(fs::path(name)), std::invalid_argument) << name;
#ifndef _WIN32 // Windows reads such arguments from the wide command line: the end-to-end tests cover it
        EXPECT_THROW(platform::ArgumentToNarrow(name), std::invalid_argument) << name;
#endif
    }
    EXPECT_THROW(platform::NarrowToPath("\x81"), std::invalid_argument);
    EXPECT_THROW(platform::NarrowToPath("\xED\x40"), std::invalid_argument);
}

TEST(StageDirBackup, BackupsGoBelowTheFromVersionAndCleanUpOnlyTheirOwn)
{
    TempDir root;
    StageDir dir(root / ".update", root / ".backup");
    dir.SetBackupSubDir("1.0");
    EXPECT_EQ((root / ".backup").string() + "/1.0/bin/a.dll", StageDir::GetBackupPath(dir, "bin/", "a.dll"));
    EXPECT_EQ((root / ".backup").string() + "/1.0", StageDir::GetBackupPath(dir, ""));

    fs::create_directories(root / "bin");
    WriteFile(root / "bin" / "a.dll", "old");
    StageDir::BackupFile("a.dll", dir, root / "bin", "bin/");
    WriteFile(root / "bin" / "a.dll", "older");
    StageDir::BackupFile("a.dll", dir, root / "bin", "bin/");
    EXPECT_EQ("older", testsupport::ReadFile(root / ".backup/1.0/bin/a.dll"));

    fs::create_directories(root / ".backup/0.9");
    StageDir::RemoveBackup(dir);
    EXPECT_FALSE(fs::exists(root / ".backup/1.0"));
    EXPECT_TRUE(fs::exists(root / ".backup/0.9"));
    fs::remove(root / ".backup/0.9");
    StageDir::RemoveBackup(dir);
    EXPECT_FALSE(fs::exists(root / ".backup"));
    EXPECT_NO_THROW(StageDir::RemoveBackup(dir)) << "an update without backups cleans up quietly";

    WriteFile(root / ".backup", "file");
    try {
        StageDir::BackupFile("a.dll", dir, root / "bin", "bin/");
        FAIL();
    } catch (const KWUpdaterCommonError& e) {
        EXPECT_STREQ(".backup is not a directory", e.What());
    }
}

TEST(StageDirRecord, RemoveStageKeepsOtherPackagesWork)
{
    TempDir root;
    StageDir dir(root / ".update", root / ".backup");
    EXPECT_EQ(0, StageDir::CheckStage(root / ".update", "a"));
    testsupport::Capture out(std::cout);
    StageDir::FinishStage("a", dir, 2);
    StageDir::FinishStage("b", dir, 1);
    EXPECT_EQ("\nStage 2 Completed!\n\nStage 1 Completed!\n", out.text());
    EXPECT_EQ(2, StageDir::ReadStage(root / ".update/a.stage"));
    StageDir::RemoveStage(root / ".update", "a");
    EXPECT_TRUE(fs::exists(root / ".update/b.stage"));
    StageDir::RemoveStage(root / ".update", "b");
    EXPECT_FALSE(fs::exists(root / ".update"));
}

TEST(Platform, CopyFileContentsReplacesTheTargetWholeWithTheSourcesPermissions)
{
    TempDir root;
    const std::string content(300000, 'c');
    WriteFile(root / "source", content);
    fs::permissions(root / "source", fs::owner_read | fs::owner_write | fs::owner_exe);
    WriteFile(root / "target", std::string(500000, 't'));
    platform::CopyFileContents(root / "source", root / "target");
    EXPECT_TRUE(testsupport::ReadFile(root / "target") == content);
#ifndef _WIN32 // Windows keeps no permission bits
    EXPECT_EQ(fs::owner_read | fs::owner_write | fs::owner_exe, fs::status(root / "target").permissions());
#endif

    platform::CopyFileContents(root / "source", root / "new");
    EXPECT_EQ(content.size(), fs::file_size(root / "new"));

    fs::create_directory(root / "dir");
    EXPECT_THROW(platform::CopyFileContents(root / "missing", root / "x"), fs::filesystem_error);
    EXPECT_THROW(platform::CopyFileContents(root / "dir", root / "x"), fs::filesystem_error);
    EXPECT_THROW(platform::CopyFileContents(root / "source", root / "none" / "x"), fs::filesystem_error);
}

TEST(Platform, NewFilesOpenOnlyWhereNothingStands)
{
    TempDir root;
    std::ofstream out;
    platform::OpenNewFile(root / "new", out);
    ASSERT_TRUE(out.is_open());
    EXPECT_TRUE(out.write("x", 1).flush());
    out.close();

    // An existing file keeps its content; a dangling link is not followed.
    std::vector<const char*> names = {"new"};
#ifndef _WIN32 // symbolic links need a privilege that Windows programs do not have by default
    fs::create_symlink(root / "elsewhere", root / "link");
    names.push_back("link");
#endif
    for (const char* name : names) {
        std::ofstream again;
        platform::OpenNewFile(root / name, again);
        EXPECT_FALSE(again.is_open()) << name;
    }
    EXPECT_EQ("x", testsupport::ReadFile(root / "new"));
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}
