// Damaged streams: every flaw must end in a false result with a tree that can
// still be walked and released, never in a crash or an oversized allocation.
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace kw::archive;
using kwtest::Load;
using kwtest::StreamWriter;
using kwtest::Top;
using kwtest::TreeSpec;

namespace {

std::string Sample()
{
    TreeSpec top = TreeSpec::Dir(1, 2);
    top.Add("one", TreeSpec::FileOf(std::string(600, 'o'), 3, 4))
        .Add("dir", TreeSpec::Dir(5, 6).Add("two", TreeSpec::FileOf("2", 7, 8)).Add("e", TreeSpec::Dir()))
        .Add("", TreeSpec::FileOf("", 9, 10));
    return Serialize(top, kwtest::Order::BreadthFirst);
}

} // namespace

TEST(LoaderRobustnessTest, EveryTruncationFailsAndLeavesAWalkableTree)
{
    const std::string bytes = Sample();
    ASSERT_TRUE(Load(bytes).ok);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const kwtest::LoadResult result = Load(bytes.substr(0, length), 7);
        EXPECT_FALSE(result.ok) << "length " << length;
        EXPECT_EQ(length, result.offset) << "a short read hands out what it got";
        if (const boost::shared_ptr<Directory> top = Top(result.archive)) {
            EXPECT_FALSE(kwtest::Dump(*top).empty());
        } else {
            EXPECT_LT(length, 8u);
        }
    }
}

TEST(LoaderRobustnessTest, CorruptedBytesNeverBreakTheLoader)
{
    const std::string bytes = Sample();
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        const int flips = 1 + round % 4;
        for (int i = 0; i < flips; ++i) {
            damaged[random() % damaged.size()] = static_cast<char>(random());
        }
        const kwtest::LoadResult result = Load(damaged, 1 + round % 64);
        if (const boost::shared_ptr<Directory> top = Top(result.archive)) kwtest::Dump(*top);
        EXPECT_LE(result.offset, damaged.size());
    }
}

TEST(LoaderRobustnessTest, DeclaredSizesAreNotTrustedUpFront)
{
    // Four billion entries announced, one present.
    kwtest::LoadResult result = Load(StreamWriter().NodeRecord(0xFFFFFFFFu, 1).Entry(2, 0x100, "a").Bytes());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(1u, Top(result.archive)->GetCount());

    // A file of almost 4 GiB announced, 1000 bytes present.
    const std::string body(1000, 'b');
    result = Load(StreamWriter().NodeRecord(1, 1).Entry(2, 48, "big").NodeRecord(0xFFFFFFF0u, 2).Raw(body).Bytes());
    EXPECT_FALSE(result.ok);
    const boost::shared_ptr<File> big = boost::dynamic_pointer_cast<File>(Top(result.archive)->GetChildNode("big"));
    ASSERT_TRUE(big);
    kwtest::ExpectBlocks(*big, {512}, body.substr(0, 512)); // only whole pieces that arrived are kept
}

TEST(LoaderRobustnessTest, ASourceClaimingTooMuchIsHeldToItsCapacity)
{
    const std::string bytes = Sample();
    kwtest::StringSource source(bytes, ~0u);
    ArchiveLoader::Source boastful = [&](void* destination, unsigned capacity) -> unsigned {
        return source(destination, capacity) == 0 ? 0 : capacity + 1000;
    };
    ArchiveLoader loader;
    loader.ReadFromStream(boastful);
    EXPECT_LE(loader.GetReadingOffset(), bytes.size() + 64);
}

TEST(LoaderRobustnessTest, DeepNestingLoadsAndIsReleased)
{
    // Each level: a directory record with one entry named "d" (40 bytes),
    // announcing the next level right behind it.
    const std::uint32_t depth = 200000;
    StreamWriter stream;
    std::uint32_t offset = 8;
    for (std::uint32_t level = 0; level < depth; ++level) {
        offset += 40;
        stream.NodeRecord(1, 1, level, level).Entry(1, offset, "d");
    }
    stream.NodeRecord(0, 1, depth, depth);
    const kwtest::LoadResult result = Load(stream.Bytes());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(stream.Size(), result.offset);

    boost::shared_ptr<Directory> current = Top(result.archive);
    std::uint32_t levels = 0;
    while (const auto next = boost::dynamic_pointer_cast<Directory>(current->GetChildNode("d"))) {
        current = next;
        ++levels;
    }
    EXPECT_EQ(depth, levels);
    EXPECT_EQ(depth, kwtest::TicksOf(current->GetModified()));
    // The loader is gone already; the archive is released at the end of the scope.
}
