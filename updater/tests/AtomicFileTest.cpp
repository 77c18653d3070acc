#include "AtomicFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = boost::filesystem;
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

TEST(AtomicFile, PlacesWholeFilesAndLeavesNoTemporary)
{
    TempDir dir;
    WriteFile(dir / "target", "old content, longer than the new one");
    WriteFile(dir / "target.kwtmp", "stale from an interrupted run");
    WriteFileAtomically(dir / "target", "new", 3);
    EXPECT_EQ("new", ReadFile(dir / "target"));
    EXPECT_FALSE(fs::exists(dir / "target.kwtmp"));

    WriteFile(dir / "source", "placed");
    WriteFile(dir / "placed.kwtmp", "stale");
    bool saw_temporary = false;
    CopyFileAtomically(dir / "source", dir / "placed", [&](const fs::path& temporary) {
        saw_temporary = ReadFile(temporary) == "placed" && !fs::exists(dir / "placed");
    });
    EXPECT_TRUE(saw_temporary);
    EXPECT_EQ("placed", ReadFile(dir / "placed"));
    EXPECT_FALSE(fs::exists(dir / "placed.kwtmp"));

    // A failed copy leaves neither a target nor a temporary file.
    EXPECT_THROW(CopyFileAtomically(dir / "missing", dir / "other"), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(dir / "other"));
    EXPECT_FALSE(fs::exists(dir / "other.kwtmp"));
}

TEST(AtomicFile, LinksWithinAFileSystemAndCopiesAcrossOne)
{
    TempDir dir;
    WriteFile(dir / "source", "shared content");
    LinkOrCopyFile(dir / "source", dir / "linked");
    EXPECT_EQ(2u, fs::hard_link_count(dir / "source"));
    EXPECT_EQ("shared content", ReadFile(dir / "linked"));
    EXPECT_THROW(LinkOrCopyFile(dir / "source", dir / "linked"), fs::filesystem_error) << "the target must be new";

#ifndef _WIN32 // a second file system is a POSIX mount here
    const fs::path other_device = "/dev/shm";
    if (!fs::is_directory(other_device) || DeviceOf(other_device) == DeviceOf(dir.path()))
        GTEST_SKIP() << "no second file system to copy across";
    const fs::path across = other_device / fs::unique_path("kwtest-%%%%-%%%%");
    LinkOrCopyFile(dir / "source", across);
    EXPECT_EQ("shared content", ReadFile(across));
    EXPECT_EQ(1u, fs::hard_link_count(across));
    fs::remove(across);
#endif
}
