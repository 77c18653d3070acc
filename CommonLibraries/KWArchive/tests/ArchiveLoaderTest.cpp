#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kw::archive;
using kwtest::Dump;
using kwtest::ExpectTimes;
using kwtest::Load;
using kwtest::Order;
using kwtest::StreamWriter;
using kwtest::Top;
using kwtest::TreeSpec;

namespace {

// A top directory with one file "a" holding hello: 80 bytes.
std::string WorkedExample()
{
    StreamWriter stream;
    stream.NodeRecord(1, 1, 0x1111, 0x2222).Entry(2, 48, "a").NodeRecord(5, 2, 0x01D0000000000001ull, 0x3333);
    return stream.Padded("hello").Bytes();
}

// A tree with nesting, empty directories and files on both sides of 512 bytes.
TreeSpec SampleTree()
{
    TreeSpec sub = TreeSpec::Dir(11, 12);
    sub.Add("z", TreeSpec::FileOf(std::string(513, 'z'), 13, 14))
        .Add("empty", TreeSpec::Dir(15, 16))
        .Add("deeper", TreeSpec::Dir(17, 18).Add("x", TreeSpec::FileOf("xyz", 19, 20)));
    TreeSpec top = TreeSpec::Dir(1, 2);
    top.Add("b.txt", TreeSpec::FileOf("bee", 3, 4))
        .Add("sub", sub)
        .Add("A", TreeSpec::FileOf("", 5, 6))
        .Add("\x95\x5C", TreeSpec::FileOf(std::string(1024, '\x80'), 7, 8))
        .Add("a", TreeSpec::Dir(9, 10));
    return top;
}

} // namespace

TEST(ArchiveLoaderTest, LoadsTheWorkedExample)
{
    const std::string bytes = WorkedExample();
    ASSERT_EQ(80u, bytes.size());
    ArchiveLoader loader;
    const boost::shared_ptr<Archive> before = loader.GetBody();
    EXPECT_EQ(0u, before->GetRoot().GetCount());
    kwtest::StringSource source(bytes);
    EXPECT_TRUE(loader.ReadFromStream(boost::ref(source)));
    EXPECT_EQ(80u, loader.GetReadingOffset());
    EXPECT_EQ(before, loader.GetBody());

    const boost::shared_ptr<Directory> top = Top(before);
    ASSERT_TRUE(top);
    EXPECT_EQ(1u, before->GetRoot().GetCount());
    ExpectTimes(*top, 0x1111, 0x2222);
    const boost::shared_ptr<File> a = boost::dynamic_pointer_cast<File>(top->GetChildNode("a"));
    ASSERT_TRUE(a);
    kwtest::ExpectBlocks(*a, {5}, "hello");
    ExpectTimes(*a, 0x01D0000000000001ull, 0x3333);
}

TEST(ArchiveLoaderTest, ArchiveOutlivesItsLoader)
{
    // Load's loader is gone when it returns the archive.
    const kwtest::LoadResult result = Load(WorkedExample());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ("hello", kwtest::Content(*boost::dynamic_pointer_cast<File>(Top(result.archive)->GetChildNode("a"))));
}

TEST(ArchiveLoaderTest, EmptyAndShortStreams)
{
    const std::string empty_top = StreamWriter().NodeRecord(0, 1).Bytes();
    ASSERT_EQ(32u, empty_top.size());
    // The whole stream, a cut prologue and a bare prologue.
    for (const unsigned length : {32u, 7u, 8u}) {
        SCOPED_TRACE(length);
        const kwtest::LoadResult result = Load(empty_top.substr(0, length));
        EXPECT_EQ(length == 32u, result.ok);
        EXPECT_EQ(length, result.offset);
        const bool has_top = length >= 8u; // no top directory before a whole prologue
        EXPECT_EQ(has_top ? 1u : 0u, result.archive->GetRoot().GetCount());
        if (has_top) {
            ASSERT_TRUE(Top(result.archive));
            EXPECT_EQ(0u, Top(result.archive)->GetCount());
        }
    }

    // The top record must be a directory.
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(0, 2).Bytes()).ok);
}

TEST(ArchiveLoaderTest, NameLengthsUpTo256)
{
    const std::string long_name(256, '\xFE');
    StreamWriter stream;
    // Records: top 8..31, entries 32..43 and 44..311, children at 312 and 336.
    stream.NodeRecord(2, 1).Entry(1, 312, "").Entry(2, 336, long_name).NodeRecord(0, 1).NodeRecord(0, 2);
    ASSERT_EQ(360u, stream.Size());
    kwtest::LoadResult result = Load(stream.Bytes());
    EXPECT_TRUE(result.ok);
    const boost::shared_ptr<Directory> top = Top(result.archive);
    ASSERT_TRUE(top);
    ASSERT_TRUE(top->GetChildNode(""));
    EXPECT_EQ(NodeDirectory, top->GetChildNode("")->GetType());
    ASSERT_TRUE(top->GetChildNode(long_name));
    EXPECT_EQ(NodeFile, top->GetChildNode(long_name)->GetType());

    StreamWriter too_long;
    too_long.NodeRecord(1, 1).U32(2).U32(300).U32(257).Padded(std::string(257, 'n')).NodeRecord(0, 2);
    result = Load(too_long.Bytes());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(0u, Top(result.archive)->GetCount());
}

TEST(ArchiveLoaderTest, TypesMustMatchTheirEntries)
{
    // The entry announces a file, the record is a directory.
    kwtest::LoadResult result = Load(StreamWriter().NodeRecord(1, 1).Entry(2, 48, "a").NodeRecord(0, 1).Bytes());
    EXPECT_FALSE(result.ok);
    ASSERT_TRUE(Top(result.archive)->GetChildNode("a")) << "the announced child stays in the tree";
    EXPECT_EQ(NodeFile, Top(result.archive)->GetChildNode("a")->GetType());

    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(1, 48, "a").NodeRecord(0, 2).Bytes()).ok);
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(3, 48, "a").NodeRecord(0, 3).Bytes()).ok);
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(0, 48, "a").NodeRecord(0, 0).Bytes()).ok);
}

TEST(ArchiveLoaderTest, DuplicateNamesAndOffsetsFail)
{
    kwtest::LoadResult result = Load(
        StreamWriter().NodeRecord(2, 1).Entry(2, 64, "a").Entry(2, 88, "a").NodeRecord(0, 2).NodeRecord(0, 2).Bytes());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(1u, Top(result.archive)->GetCount());

    // Two directories announce the same offset.
    StreamWriter shared;
    shared.NodeRecord(2, 1).Entry(1, 64, "d").Entry(2, 104, "f"); // top: 8..63
    shared.NodeRecord(1, 1).Entry(2, 104, "g");                    // d: 64..103
    shared.NodeRecord(0, 2);                                       // f: 104..127
    EXPECT_FALSE(Load(shared.Bytes()).ok);

    // Distinct names at distinct offsets load.
    StreamWriter fine;
    fine.NodeRecord(2, 1).Entry(1, 64, "d").Entry(2, 104, "f").NodeRecord(1, 1).Entry(2, 128, "g");
    fine.NodeRecord(0, 2).NodeRecord(0, 2);
    EXPECT_TRUE(Load(fine.Bytes()).ok);
}

TEST(ArchiveLoaderTest, RecordsMustStartAtAPendingOffset)
{
    // The entry points back at the top directory's own record.
    kwtest::LoadResult result = Load(StreamWriter().NodeRecord(1, 1).Entry(1, 8, "loop").NodeRecord(0, 1).Bytes());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(48u, result.offset) << "no record is read at a position nobody announced";

    // A gap before the announced record.
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(2, 52, "a").U32(0).NodeRecord(0, 2).Bytes()).ok);
    // An offset that is never reached.
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(2, 4096, "a").NodeRecord(0, 2).Bytes()).ok);
    // An offset inside the record that follows.
    EXPECT_FALSE(Load(StreamWriter().NodeRecord(1, 1).Entry(2, 60, "a").NodeRecord(0, 2).Bytes()).ok);
}

TEST(ArchiveLoaderTest, TrailingBytesAreIgnoredAndBarelyRead)
{
    const kwtest::LoadResult result = Load(WorkedExample() + std::string(1000, '\x5A'));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(80u, result.offset);
    EXPECT_LE(result.source.Consumed(), 80u + 64u) << "the read-ahead holds at most 64 bytes";
    for (unsigned capacity : result.source.Capacities()) {
        EXPECT_GT(capacity, 0u);
        EXPECT_LE(capacity, 64u);
    }
}

TEST(ArchiveLoaderTest, FileBodiesBecome512ByteBlocks)
{
    std::string content(1025, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    const std::string bytes =
        StreamWriter().NodeRecord(1, 1).Entry(2, 48, "f").NodeRecord(1025, 2).Padded(content).Bytes();
    ASSERT_EQ(48u + 24u + 1028u, bytes.size());
    const kwtest::LoadResult result = Load(bytes);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(bytes.size(), result.offset);
    const boost::shared_ptr<File> file = boost::dynamic_pointer_cast<File>(Top(result.archive)->GetChildNode("f"));
    ASSERT_TRUE(file);
    kwtest::ExpectBlocks(*file, {512, 512, 1}, content);
}

TEST(ArchiveLoaderTest, DeliveryStepAndRecordOrderDoNotMatter)
{
    const TreeSpec shape = SampleTree();
    const std::string depth_first = Serialize(shape, Order::DepthFirst);
    const std::string breadth_first = Serialize(shape, Order::BreadthFirst);
    ASSERT_NE(depth_first, breadth_first);
    ASSERT_EQ(depth_first.size(), breadth_first.size());
    const std::string expected = Dump(shape);

    for (const std::string* bytes : {&depth_first, &breadth_first}) {
        for (unsigned step : {1u, 3u, 64u}) {
            const kwtest::LoadResult result = Load(*bytes, step);
            EXPECT_TRUE(result.ok) << "step " << step;
            EXPECT_EQ(bytes->size(), result.offset) << "step " << step;
            ASSERT_TRUE(Top(result.archive));
            EXPECT_EQ(expected, Dump(*Top(result.archive))) << "step " << step;
        }
    }
}

TEST(ArchiveLoaderTest, SecondReadFindsTheTopDirectoryTaken)
{
    const std::string bytes = WorkedExample() + WorkedExample();
    ArchiveLoader loader;
    kwtest::StringSource source(bytes);
    ASSERT_TRUE(loader.ReadFromStream(boost::ref(source)));
    EXPECT_FALSE(loader.ReadFromStream(boost::ref(source)));
    EXPECT_EQ(88u, loader.GetReadingOffset());
    EXPECT_EQ(1u, loader.GetBody()->GetRoot().GetCount());
}

TEST(ArchiveLoaderTest, SourceFailuresPassThrough)
{
    ArchiveLoader empty_source_loader;
    EXPECT_THROW(empty_source_loader.ReadFromStream(ArchiveLoader::Source()), boost::bad_function_call);

    ArchiveLoader loader;
    unsigned calls = 0;
    kwtest::StringSource source(WorkedExample(), 40);
    ArchiveLoader::Source failing = [&](void* destination, unsigned capacity) -> unsigned {
        if (++calls == 2) throw std::runtime_error("source broke");
        return source(destination, capacity);
    };
    EXPECT_THROW(loader.ReadFromStream(failing), std::runtime_error);
}

TEST(ArchiveLoaderTest, ReadAheadTopsUpAfterEveryServedRequest)
{
    // Requests of the worked example: prologue 8, top record 24, entry 12,
    // name 4, file record 24, body 8. The first request finds the buffer
    // empty and fills it; every request served from the buffer is followed
    // by one call for the room it freed.
    const kwtest::LoadResult result = Load(WorkedExample());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ((std::vector<unsigned>{64, 8, 24, 28, 32, 56, 64}), result.source.Capacities());
}
