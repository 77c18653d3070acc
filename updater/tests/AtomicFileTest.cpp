#include "AtomicFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = boost::filesystem;
using namespace kw::updater;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

#ifndef _WIN32
namespace {
dev_t DeviceOf(const fs::path& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}
} // namespace
#endif

TEST(AtomicFile, PlacesWholeFilesThroughItsOwnTemporaryAndLeavesNone)
{
    TempDir dir;
    const fs::path temporary = dir / "work" / "pkg.kwtmp";
    fs::create_directories(temporary.parent_path());
    // Names beside the target are the user's, whatever they look like.
    WriteFile(dir / "target", "old content, longer than the new one");
    WriteFile(dir / "target.kwtmp", "the user's own file");
    fs::create_directories(dir / "placed.kwtmp" / "sub");
    WriteFile(temporary, "stale from an interrupted run");
    WriteFileAtomically(testsupport::SystemEnv(), dir / "target", temporary, "new", 3);
    EXPECT_EQ("new", ReadFile(dir / "target"));
    EXPECT_EQ("the user's own file", ReadFile(dir / "target.kwtmp"));
    EXPECT_FALSE(fs::exists(temporary));

    // A name as long as the file system allows is placed all the same.
    const fs::path longest = dir / std::string(255, 'n');
    WriteFile(dir / "source", "placed");
    WriteFile(temporary, "stale");
    bool saw_temporary = false;
    CopyFileAtomically(testsupport::SystemEnv(), dir / "source", longest, temporary, [&](const fs::path& written) {
        saw_temporary = written == temporary && ReadFile(written) == "placed" && !fs::exists(longest);
    });
    EXPECT_TRUE(saw_temporary);
    EXPECT_EQ("placed", ReadFile(longest));
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_TRUE(fs::is_directory(dir / "placed.kwtmp" / "sub"));

    // A failed copy leaves neither a target nor a temporary file.
    EXPECT_THROW(CopyFileAtomically(testsupport::SystemEnv(), dir / "missing", dir / "other", temporary), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(dir / "other"));
    EXPECT_FALSE(fs::exists(temporary));
}

TEST(AtomicFile, LinksWithinAFileSystemAndCopiesAcrossOne)
{
    TempDir dir;
    WriteFile(dir / "source", "shared content");
    LinkOrCopyFile(testsupport::SystemEnv(), dir / "source", dir / "linked");
    EXPECT_EQ(2u, fs::hard_link_count(dir / "source"));
    EXPECT_EQ("shared content", ReadFile(dir / "linked"));
    EXPECT_THROW(LinkOrCopyFile(testsupport::SystemEnv(), dir / "source", dir / "linked"), fs::filesystem_error) << "the target must be new";

#ifndef _WIN32 // a second file system is a POSIX mount here
    const fs::path other_device = "/dev/shm";
    if (!fs::is_directory(other_device) || DeviceOf(other_device) == DeviceOf(dir.path()))
        GTEST_SKIP() << "no second file system to copy across";
    const fs::path across = other_device / fs::unique_path("kwtest-%%%%-%%%%");
    LinkOrCopyFile(testsupport::SystemEnv(), dir / "source", across);
    EXPECT_EQ("shared content", ReadFile(across));
    EXPECT_EQ(1u, fs::hard_link_count(across));
    fs::remove(across);
#endif
}
