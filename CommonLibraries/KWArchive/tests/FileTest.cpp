#include "../../common/tests/ExpectError.h"
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <unistd.h>

using namespace kw::archive;
using kwtest::ExpectBlocks;
using kwtest::RecordingBuffer;
using kwtest::WriteInto;

namespace {

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

// A disk file in the test's temporary directory, removed afterwards.
class TempFile {
public:
    explicit TempFile(const std::string& content)
        : path_(testing::TempDir() + "kwarchive_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++))
    {
        std::ofstream(path_, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    static int counter_;
    std::string path_;
};
int TempFile::counter_ = 0;

} // namespace

TEST(FileTest, AddSplitsIntoBlocksOfAtMost512Bytes)
{
    File file;
    file.Add(nullptr, 0);
    ExpectBlocks(file, {}, "");

    const std::string bytes = Pattern(1300, 1);
    file.Add(bytes.data(), 1300);
    ExpectBlocks(file, {512, 512, 276}, bytes);
}

TEST(FileTest, EveryAddStartsNewBlocks)
{
    File file;
    std::string added;
    unsigned seed = 2;
    for (const unsigned size : {100u, 600u, 512u}) {
        const std::string bytes = Pattern(size, seed++);
        file.Add(bytes.data(), size);
        added += bytes;
    }
    ExpectBlocks(file, {100, 512, 88, 512}, added);
}

TEST(FileTest, WriteStopsAtTheFirstFailedBlock)
{
    File file;
    const std::string bytes = Pattern(1300, 5);
    file.Add(bytes.data(), 1300);

    RecordingBuffer refuse_first(0);
    EXPECT_EQ(0u, WriteInto(refuse_first, file));

    RecordingBuffer refuse_third(2);
    EXPECT_EQ(1024u, WriteInto(refuse_third, file));
    EXPECT_EQ(2u, refuse_third.pieces.size());

    // A stream that has already failed takes nothing.
    RecordingBuffer healthy;
    std::ostream failed(&healthy);
    failed.setstate(std::ios::failbit);
    EXPECT_EQ(0u, file.Write(failed));
    EXPECT_TRUE(healthy.pieces.empty());
}

TEST(FileTest, LoadsDiskFilesBlockByBlock)
{
    // A whole number of blocks (the closing empty block is never written), an odd size and an empty file.
    const std::vector<std::pair<unsigned, std::vector<std::size_t>>> cases{
        {1024, {512, 512}}, {700, {512, 188}}, {0, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::string bytes = Pattern(c.first, 6);
        const TempFile disk_file(bytes);
        const File loaded(disk_file.Path());
        kwtest::ExpectTimes(loaded, 0, 0);
        ExpectBlocks(loaded, c.second, bytes);
    }
}

TEST(FileTest, UnreadableDiskFilesRaiseArchiveErrors)
{
    const std::string message = kwtest::ExpectError<ArchiveCommonError>(
        [] { const File missing(testing::TempDir() + "kwarchive_no_such_file"); }, "cannot load from file");
    EXPECT_EQ(0u, message.rfind("At File.cpp(", 0)) << message;
    EXPECT_NE(std::string::npos, message.find(") in kw::archive::FileImpl::FileImpl()\ncannot load from file"))
        << message;

    // A directory opens on POSIX but cannot be read: the failure comes from
    // the block read. Windows refuses to open it.
#ifdef _WIN32
    const char* const failing_step = "in kw::archive::FileImpl::FileImpl()";
#else
    const char* const failing_step = "in kw::archive::Block::Block()";
#endif
    const std::string directory_message = kwtest::ExpectError<ArchiveCommonErrorBase>(
        [] { const File directory(testing::TempDir()); }, "cannot load from file");
    EXPECT_NE(std::string::npos, directory_message.find(failing_step)) << directory_message;
}
