#include "ArchiveWriter.h"
#include "PackError.h"
#include "PackTestSupport.h"

#include <kw/archive/ArchiveFormat.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>
#include <kw/KWConvert.h>

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace fs = boost::filesystem;
using namespace kwpack;
using namespace kwpack_test;
using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

namespace {

std::string StreamOf(const fs::path& dir, const std::string& prologue = "KWUP0111")
{
    const TreeEntry tree = ScanTree(testsupport::SystemEnv(), dir, ScanFor::PackageWithCreationTimes);
    std::string stream;
    WriteArchiveStream(testsupport::SystemEnv(), dir, tree, prologue, [&](const unsigned char* data, std::size_t size) {
        stream.append(reinterpret_cast<const char*>(data), size);
    });
    EXPECT_EQ(stream.size(), ArchiveStreamSize(tree));
    return stream;
}

std::uint32_t WordAt(const std::string& stream, std::size_t offset)
{
    return kw::archive::format::LoadLe32(reinterpret_cast<const unsigned char*>(stream.data()) + offset);
}

// Compares a loaded node with the disk tree it came from, times included.
void ExpectSame(const fs::path& path, const TreeEntry& entry, const boost::shared_ptr<Node>& node,
                const std::string& where)
{
    SCOPED_TRACE(where);
    FILETIME created, modified;
    ReadTimes(testsupport::SystemEnv(), path, created, modified);
    EXPECT_EQ(TicksOf(node->GetCreated()), TicksOf(created));
    EXPECT_EQ(TicksOf(node->GetModified()), TicksOf(modified));
    if (fs::is_regular_file(path)) {
        ASSERT_EQ(node->GetType(), kw::archive::NodeFile);
        std::ostringstream content;
        boost::static_pointer_cast<File>(node)->Write(content);
        EXPECT_EQ(content.str(), ReadFile(path));
        return;
    }
    ASSERT_EQ(node->GetType(), kw::archive::NodeDirectory);
    const auto dir = boost::static_pointer_cast<Directory>(node);
    EXPECT_EQ(dir->GetCount(), std::size_t(std::distance(fs::directory_iterator(path), fs::directory_iterator())));
    for (const TreeEntry& child : entry.children) {
        std::string narrow;
        kw::ConvertUtf8ToSjis(child.name, narrow);
        boost::shared_ptr<Node> loaded = dir->GetChildNode(narrow);
        ASSERT_TRUE(loaded) << child.name;
        ExpectSame(path / child.name, child, loaded, where + "/" + child.name);
    }
}

} // namespace

TEST(ArchiveWriter, OneFileMakesTheEightyByteLayout)
{
    TempDir dir;
    WriteFile(dir / "top/a", "hello");
    WriteTimes(testsupport::SystemEnv(), dir / "top/a", Ticks(0x01D5060708090A0Bull), Ticks(0x01D6161718191A1Bull));
    WriteTimes(testsupport::SystemEnv(), dir / "top", Ticks(0x01D5000000000007ull), Ticks(0x01D5000000000009ull));
    const std::string stream = StreamOf(dir / "top");

    ASSERT_EQ(stream.size(), 80u);
    EXPECT_EQ(stream.substr(0, 8), "KWUP0111");
    EXPECT_EQ(WordAt(stream, 8), 1u);   // one entry
    EXPECT_EQ(WordAt(stream, 12), 1u);  // directory
    EXPECT_EQ(WordAt(stream, 24), 9u);
    EXPECT_EQ(WordAt(stream, 32), 2u);   // child is a file
    EXPECT_EQ(WordAt(stream, 36), 48u);  // its record's offset
    EXPECT_EQ(WordAt(stream, 40), 1u);   // name length
    EXPECT_EQ(stream.substr(44, 4), std::string("a\0\0\0", 4));
    EXPECT_EQ(WordAt(stream, 48), 5u);
    EXPECT_EQ(WordAt(stream, 52), 2u);
    EXPECT_EQ(WordAt(stream, 64), 0x18191A1Bu);  // modified, low half first
    EXPECT_EQ(WordAt(stream, 68), 0x01D61617u);
    EXPECT_EQ(stream.substr(72), std::string("hello\0\0\0", 8));
    // The creation times, of the directory and the file.
    if (testsupport::UnderWine()) GTEST_SKIP() << testsupport::kNoCreationTimesUnderWine;
    EXPECT_EQ(WordAt(stream, 16), 7u);
    EXPECT_EQ(WordAt(stream, 20), 0x01D50000u);
    EXPECT_EQ(WordAt(stream, 56), 0x08090A0Bu);
    EXPECT_EQ(WordAt(stream, 60), 0x01D50607u);
}

TEST(ArchiveWriter, WrittenTreeLoadsBackIdenticallyThroughTheArchiveLoader)
{
    TempDir dir;
    const fs::path top = dir / "top";
    WriteFile(top / "readme.txt", "read me\n");
    WriteFile(top / "empty.bin", "");
    WriteFile(top / "bin/main.dll", std::string(1025, 'x'));
    std::string varied(70000, '\0');
    for (std::size_t i = 0; i < varied.size(); ++i) varied[i] = char(i * 7 + i / 300);
    WriteFile(top / "bin/plugins/deep/data.bin", varied);
    WriteFile(top / "日本語/表示ソ.txt", "0x5C as a second byte");
    fs::create_directories(top / "empty dir");
    std::uint64_t tick = 130000000000000000ull;
    for (fs::recursive_directory_iterator it(top), end; it != end; ++it, tick += 10000001)
        WriteTimes(testsupport::SystemEnv(), it->path(), Ticks(tick), Ticks(tick + 5));

    const std::string stream = StreamOf(top);
    // A source that hands out 7 bytes per call exercises the loader's read-ahead.
    std::size_t position = 0;
    kw::archive::ArchiveLoader loader;
    ASSERT_TRUE(loader.ReadFromStream([&](void* into, unsigned capacity) -> unsigned {
        unsigned n = unsigned(std::min<std::size_t>({capacity, 7, stream.size() - position}));
        std::memcpy(into, stream.data() + position, n);
        position += n;
        return n;
    }));
    EXPECT_EQ(loader.GetReadingOffset(), stream.size());
    ExpectSame(top, ScanTree(testsupport::SystemEnv(), top, ScanFor::PackageWithCreationTimes), loader.GetBody()->GetRoot().GetChildNode("/"), "top");
}

TEST(ArchiveWriter, RefusesAFileThatChangedAfterTheScan)
{
    TempDir dir;
    WriteFile(dir / "top/a", "hello");
    const TreeEntry tree = ScanTree(testsupport::SystemEnv(), dir / "top", ScanFor::PackageWithCreationTimes);
    auto discard = [](const unsigned char*, std::size_t) {};
    WriteFile(dir / "top/a", "hello, longer");
    EXPECT_THROW(WriteArchiveStream(testsupport::SystemEnv(), dir / "top", tree, "KWUP0111", discard), PackError);
    WriteFile(dir / "top/a", "hell");
    EXPECT_THROW(WriteArchiveStream(testsupport::SystemEnv(), dir / "top", tree, "KWUP0111", discard), PackError);
    fs::remove(dir / "top/a");
    EXPECT_THROW(WriteArchiveStream(testsupport::SystemEnv(), dir / "top", tree, "KWUP0111", discard), PackError);
}
