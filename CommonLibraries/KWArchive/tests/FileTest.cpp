#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <unistd.h>

using namespace kw::archive;
using kwtest::RecordingBuffer;

namespace {

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

std::vector<std::size_t> PieceSizes(const RecordingBuffer& buffer)
{
    std::vector<std::size_t> sizes;
    for (const std::string& piece : buffer.pieces) sizes.push_back(piece.size());
    return sizes;
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
    EXPECT_EQ(0u, file.GetSize());
    RecordingBuffer empty_buffer;
    std::ostream empty_out(&empty_buffer);
    EXPECT_EQ(0u, file.Write(empty_out));
    EXPECT_TRUE(empty_buffer.pieces.empty());

    const std::string bytes = Pattern(1300, 1);
    file.Add(bytes.data(), 1300);
    EXPECT_EQ(1300u, file.GetSize());
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    EXPECT_EQ(1300u, file.Write(out));
    EXPECT_EQ((std::vector<std::size_t>{512, 512, 276}), PieceSizes(buffer));
    EXPECT_EQ(bytes, buffer.pieces[0] + buffer.pieces[1] + buffer.pieces[2]);
}

TEST(FileTest, EveryAddStartsNewBlocks)
{
    File file;
    const std::string first = Pattern(100, 2);
    const std::string second = Pattern(600, 3);
    const std::string third = Pattern(512, 4);
    file.Add(first.data(), 100);
    file.Add(second.data(), 600);
    file.Add(third.data(), 512);
    EXPECT_EQ(1212u, file.GetSize());
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    EXPECT_EQ(1212u, file.Write(out));
    EXPECT_EQ((std::vector<std::size_t>{100, 512, 88, 512}), PieceSizes(buffer));
    EXPECT_EQ(first + second + third, kwtest::Content(file));
}

TEST(FileTest, WriteStopsAtTheFirstFailedBlock)
{
    File file;
    const std::string bytes = Pattern(1300, 5);
    file.Add(bytes.data(), 1300);

    RecordingBuffer refuse_first(0);
    std::ostream first_fails(&refuse_first);
    EXPECT_EQ(0u, file.Write(first_fails));

    RecordingBuffer refuse_third(2);
    std::ostream third_fails(&refuse_third);
    EXPECT_EQ(1024u, file.Write(third_fails));
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
    const std::string bytes = Pattern(1024, 6);
    TempFile full(bytes);
    File loaded(full.Path());
    EXPECT_EQ(1024u, loaded.GetSize());
    EXPECT_EQ(0u, kwtest::Ticks(loaded.GetCreated()));
    RecordingBuffer buffer;
    std::ostream out(&buffer);
    EXPECT_EQ(1024u, loaded.Write(out));
    // The closing empty block is never written.
    EXPECT_EQ((std::vector<std::size_t>{512, 512}), PieceSizes(buffer));
    EXPECT_EQ(bytes, buffer.pieces[0] + buffer.pieces[1]);

    TempFile odd(Pattern(700, 7));
    File loaded_odd(odd.Path());
    EXPECT_EQ(700u, loaded_odd.GetSize());
    EXPECT_EQ(Pattern(700, 7), kwtest::Content(loaded_odd));

    TempFile empty("");
    File loaded_empty(empty.Path());
    EXPECT_EQ(0u, loaded_empty.GetSize());
    EXPECT_EQ("", kwtest::Content(loaded_empty));
}

TEST(FileTest, UnreadableDiskFilesRaiseArchiveErrors)
{
    try {
        File missing(testing::TempDir() + "kwarchive_no_such_file");
        FAIL() << "a missing file must not load";
    } catch (const ArchiveCommonError& e) {
        EXPECT_STREQ("cannot load from file", e.what());
        const std::string message = e.Message();
        EXPECT_EQ(0u, message.rfind("At File.cpp(", 0)) << message;
        EXPECT_NE(std::string::npos, message.find(") in kw::archive::FileImpl::FileImpl()\ncannot load from file"))
            << message;
    }

    // A directory opens on POSIX but cannot be read: the failure comes from
    // the block read. Windows refuses to open it.
#ifdef _WIN32
    const char* const failing_step = "in kw::archive::FileImpl::FileImpl()";
#else
    const char* const failing_step = "in kw::archive::Block::Block()";
#endif
    try {
        File directory(testing::TempDir());
        FAIL() << "a directory must not load";
    } catch (const kw::ModuleError& e) {
        EXPECT_NE(std::string::npos, std::string(e.Message()).find(failing_step))
            << e.Message();
        EXPECT_NE(nullptr, dynamic_cast<const ArchiveCommonErrorBase*>(&e));
    }
}
