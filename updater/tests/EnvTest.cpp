#include "Backups.h"
#include "ConsoleListener.h"
#include "FileAttributes.h"
#include "LongPath.h"
#include "NativeText.h"
#include "SafeName.h"
#include "StageRecord.h"
#include "TestSupport.h"
#include "UpdaterTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace fs = boost::filesystem;
using namespace kw::updater;
using kw::FILETIME;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using updatertest::ExpectTimes;
using updatertest::FailureOf;

namespace {
Env& env = testsupport::SystemEnv();
} // namespace

TEST(Env, FileTimesRoundTripAtHundredNanosecondsForFilesAndDirectories)
{
    TempDir root;
    WriteFile(root / "file", "x");
    fs::create_directory(root / "dir");
    // 2011-06-15 plus an odd count of 100-ns ticks; creation differs from modification.
    const std::uint64_t created = 129526272001234567ULL, modified = 129526272009876543ULL;
    for (const char* name : {"file", "dir"}) {
        SetFsAttributes(env, root / name, testsupport::Ticks(created), testsupport::Ticks(modified));
        ExpectTimes(root / name, created, modified, true);
    }
    WriteFile(root / "copy", "y");
    CopyFsAttributes(env, root / "file", root / "copy");
    ExpectTimes(root / "copy", created, modified);
    if (testsupport::UnderWine()) GTEST_SKIP() << testsupport::kNoCreationTimesUnderWine;
}

TEST(Env, TimeOperationsFailWithTheirMessages)
{
    TempDir root;
    fs::create_directory(root / "dir");
    const auto failure = [](auto f) { return FailureOf<kw::ModuleError>(f).what; };
    EXPECT_EQ("cannot get attributes: CreateFile", failure([&] { CopyFsAttributes(env, root / "dir", root / "dir"); }));
    EXPECT_EQ("source file does not exit", failure([&] { CopyFsAttributes(env, root / "none", root / "dir"); }));
    EXPECT_EQ("target does not exist", failure([&] { SetFsAttributes(env, root / "none", FILETIME{}, FILETIME{}); }));
    EXPECT_EQ("cannot create directory", failure([&] { CreateFsDirectory(env, root / "dir"); }));
    EXPECT_EQ("cannot create directory", failure([&] { CreateFsDirectory(env, root / "a" / "b"); }));
}

TEST(Env, NarrowTextIsCp932AndMapsToUtf8Names)
{
    const std::string sjis("\x95\x5C\x83\x5C.txt"); // 表ソ.txt: both second bytes are 0x5C
    const fs::path native = NarrowToPath(sjis);
    EXPECT_EQ("\xE8\xA1\xA8\xE3\x82\xBD.txt", native.string());
    EXPECT_EQ(sjis, PathToNarrow(native));
#ifdef _WIN32
    // Arguments and the console already use the ANSI code page.
    EXPECT_EQ(sjis, ArgumentToNarrow(sjis.c_str()));
    EXPECT_EQ(sjis, NarrowToConsole(sjis));
#else
    EXPECT_EQ(sjis, ArgumentToNarrow("\xE8\xA1\xA8\xE3\x82\xBD.txt"));
    EXPECT_EQ("\xE8\xA1\xA8\xE3\x82\xBD.txt", NarrowToConsole(sjis));
#endif

    TempDir root;
    CreateFsDirectory(env, root.path() / native);
    EXPECT_TRUE(fs::is_directory(root.path() / "\xE8\xA1\xA8\xE3\x82\xBD.txt"));

    // A name with no exact CP932 form is refused, never changed silently:
    // 〜 and − would come back as ～ and －, and 0xED40 is a second code of
    // the kanji that 0xFA5C has.
    for (const char* name : {"\xF0\x9F\x98\x80", "up\xE3\x80\x9C" "1.kwp", "\xE2\x88\x92"}) {
        EXPECT_THROW(PathToNarrow(fs::path(name)), std::invalid_argument) << name;
#ifndef _WIN32 // Windows reads such arguments from the wide command line: the end-to-end tests cover it
        EXPECT_THROW(ArgumentToNarrow(name), std::invalid_argument) << name;
#endif
    }
    EXPECT_THROW(NarrowToPath("\x81"), std::invalid_argument);
    EXPECT_THROW(NarrowToPath("\xED\x40"), std::invalid_argument);
}

TEST(Backups, BackupsGoBelowTheFromVersionAndCleanUpOnlyTheirOwn)
{
    TempDir root;
    Backups backups(env, root / ".backup");
    backups.SetFrom("1.0");
    EXPECT_EQ((root / ".backup").string() + "/1.0/bin/a.dll", backups.GetBackupPath("bin/", "a.dll"));
    EXPECT_EQ((root / ".backup").string() + "/1.0", backups.GetBackupPath(""));

    fs::create_directories(root / "bin");
    WriteFile(root / "bin" / "a.dll", "old");
    backups.BackupFile(root / "bin" / "a.dll", "bin/", "a.dll");
    WriteFile(root / "bin" / "a.dll", "older");
    backups.BackupFile(root / "bin" / "a.dll", "bin/", "a.dll");
    EXPECT_EQ("older", ReadFile(root / ".backup/1.0/bin/a.dll"));

    fs::create_directories(root / ".backup/0.9");
    backups.RemoveBackup();
    EXPECT_FALSE(fs::exists(root / ".backup/1.0"));
    EXPECT_TRUE(fs::exists(root / ".backup/0.9"));
    fs::remove(root / ".backup/0.9");
    backups.RemoveBackup();
    EXPECT_FALSE(fs::exists(root / ".backup"));
    EXPECT_NO_THROW(backups.RemoveBackup()) << "an update without backups cleans up quietly";

    WriteFile(root / ".backup", "file");
    EXPECT_EQ(".backup is not a directory",
              FailureOf([&] { backups.BackupFile(root / "bin" / "a.dll", "bin/", "a.dll"); }).what);
}

TEST(StageRecord, RemoveStageKeepsOtherPackagesWork)
{
    TempDir root;
    const fs::path update_dir = root / ".update", a = update_dir / "a.stage", b = update_dir / "b.stage";
    EXPECT_EQ(0, CheckStage(env, update_dir, a));
    testsupport::Capture out(std::cout);
    ConsoleListener console;
    FinishStage(Context{env, console}, a, 2);
    FinishStage(Context{env, console}, b, 1);
    EXPECT_EQ("\nStage 2 Completed!\n\nStage 1 Completed!\n", out.text());
    EXPECT_EQ(2, ReadStage(env, a));
    RemoveStage(env, update_dir, a);
    EXPECT_TRUE(fs::exists(b));
    RemoveStage(env, update_dir, b);
    EXPECT_FALSE(fs::exists(update_dir));
}

TEST(Env, CopyFileContentsReplacesTheTargetWholeWithTheSourcesPermissions)
{
    TempDir root;
    const std::string content(300000, 'c');
    WriteFile(root / "source", content);
    fs::permissions(root / "source", fs::owner_read | fs::owner_write | fs::owner_exe);
    WriteFile(root / "target", std::string(500000, 't'));
    env.CopyFileContents(root / "source", root / "target");
    EXPECT_TRUE(ReadFile(root / "target") == content);
#ifndef _WIN32 // Windows keeps no permission bits
    EXPECT_EQ(fs::owner_read | fs::owner_write | fs::owner_exe, fs::status(root / "target").permissions());
#endif

    env.CopyFileContents(root / "source", root / "new");
    EXPECT_EQ(content.size(), fs::file_size(root / "new"));

    fs::create_directory(root / "dir");
    EXPECT_THROW(env.CopyFileContents(root / "missing", root / "x"), fs::filesystem_error);
    EXPECT_THROW(env.CopyFileContents(root / "dir", root / "x"), fs::filesystem_error);
    EXPECT_THROW(env.CopyFileContents(root / "source", root / "none" / "x"), fs::filesystem_error);
}

TEST(Env, NewFilesOpenOnlyWhereNothingStands)
{
    TempDir root;
    std::unique_ptr<WritableFile> out = env.CreateNewFile(root / "new");
    out->Append("x", 1);
    out->Close();

    // An existing file keeps its content; a dangling link is not followed.
    std::vector<const char*> names = {"new"};
#ifndef _WIN32 // symbolic links need a privilege that Windows programs do not have by default
    fs::create_symlink(root / "elsewhere", root / "link");
    names.push_back("link");
#endif
    for (const char* name : names) {
        boost::system::error_code error;
        EXPECT_FALSE(env.CreateNewFile(root / name, false, error)) << name;
        EXPECT_TRUE(error) << name;
    }
    EXPECT_EQ("x", ReadFile(root / "new"));
    EXPECT_FALSE(fs::exists(root / "elsewhere"));
}

TEST(LongPath, WindowsPathsBecomeAbsoluteExtendedAndNormalised)
{
    const auto extended = [](const wchar_t* path) { return ExtendedLengthPath(path, L"C:\\work\\inst"); };
    EXPECT_EQ(L"\\\\?\\C:\\inst\\up.kwp", extended(L"C:\\inst\\up.kwp"));
    EXPECT_EQ(L"\\\\?\\C:\\work\\inst\\.update\\up.stage", extended(L".update\\up.stage"));
    EXPECT_EQ(L"\\\\?\\C:\\work\\a.txt", extended(L"..\\a.txt"));
    EXPECT_EQ(L"\\\\?\\C:\\inst\\up.kwp", extended(L"C:/inst/./bin//../up.kwp"));
    EXPECT_EQ(L"\\\\?\\C:\\x", extended(L"C:\\..\\..\\x"));
    EXPECT_EQ(L"\\\\?\\C:\\", extended(L"C:\\"));
    EXPECT_EQ(L"\\\\?\\C:\\root.txt", extended(L"\\root.txt"));
    EXPECT_EQ(L"\\\\?\\C:\\work\\inst\\a.txt", extended(L"c:a.txt"));
    EXPECT_EQ(L"\\\\?\\D:\\a.txt", extended(L"D:a.txt"));
    // Shares: ".." never leaves the share.
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\inst\\a.txt", extended(L"\\\\server\\share\\inst\\..\\inst\\a.txt"));
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\a.txt", extended(L"//server/share/../a.txt"));
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\a.txt", ExtendedLengthPath(L"\\a.txt", L"\\\\server\\share\\inst"));
    EXPECT_EQ(L"\\\\?\\C:\\already", extended(L"\\\\?\\C:\\already"));
    // A trailing dot or space stays as it is: the name check refuses such
    // names before a path is ever made of them.
    EXPECT_EQ(L"\\\\?\\C:\\inst\\a. ", extended(L"C:\\inst\\a. "));
    EXPECT_NE(nullptr, safename::ComponentProblem("a."));
    EXPECT_NE(nullptr, safename::ComponentProblem("a "));
}

TEST(Env, RenameRemoveAndLinkKeepTheirWordReadOnlyOrNot)
{
    TempDir root;
    WriteFile(root / "a", "new");
    WriteFile(root / "b", "old");
    env.SetReadOnly(root / "b", true);
    EXPECT_TRUE(env.Status(root / "b", false).read_only);

    // Without `replace` nothing moves; with it, a read-only target is replaced.
    boost::system::error_code error;
    env.Rename(root / "a", root / "b", false, error);
    EXPECT_TRUE(error);
    EXPECT_EQ("new", ReadFile(root / "a"));
    EXPECT_EQ("old", ReadFile(root / "b"));
    env.Rename(root / "a", root / "b", true);
    EXPECT_EQ("new", ReadFile(root / "b"));
    EXPECT_FALSE(env.Status(root / "a", false).Exists());

    env.HardLink(root / "b", root / "c", error);
    ASSERT_FALSE(error) << error.message();
    const FileStatus linked = env.Status(root / "c", true);
    EXPECT_TRUE(linked.IsFile());
    EXPECT_EQ(3u, linked.size);
    EXPECT_EQ("new", ReadFile(root / "c"));

    env.SetReadOnly(root / "c", true);
    env.Remove(root / "c");
    EXPECT_FALSE(Exists(env, root / "c"));
    EXPECT_NO_THROW(env.Remove(root / "c")) << "a missing entry is no error";
    fs::create_directories(root / "dir/sub");
    env.Remove(root / "dir", error);
    EXPECT_TRUE(error) << "a directory with entries stays";
    std::vector<Path> names = env.ListDirectory(root.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<Path>{"b", "dir"}), names);
    EXPECT_TRUE(env.SpelledName(root / "missing").empty());
}

TEST(Env, ALockIsRefusedWhileHeldAndAFileReadsAgainFromItsStart)
{
    TempDir root;
    std::unique_ptr<FileLock> held = env.LockFile(root / "lock");
    ASSERT_TRUE(held);
    EXPECT_FALSE(env.LockFile(root / "lock"));
    held->Release();
    EXPECT_FALSE(Exists(env, root / "lock"));
    EXPECT_TRUE(env.LockFile(root / "lock"));

    const std::string content(200000, 'r');
    WriteFile(root / "file", content);
    FileInputStream in(env.OpenForReading(root / "file"));
    std::string first(100, '\0');
    in.read(&first[0], 100);
    ASSERT_TRUE(in.seekg(0));
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(whole == content);
    in.clear();
    EXPECT_FALSE(in.seekg(5)) << "only the first byte is a place to go back to";
}
