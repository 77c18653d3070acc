#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

using namespace kw::archive;
using kwtest::ExpectTimes;
using kw::FileTimeOf;
using kw::TicksOf;

namespace {

typedef std::vector<std::pair<std::string, boost::shared_ptr<Node>>> Visits;

// Runs one of the Foreach calls with a callback that records every child it
// is handed and goes on; the call must report that it ran to the end.
template <class Callback>
Visits VisitAll(const Directory& directory, bool (Directory::*foreach)(Callback&) const)
{
    Visits visits;
    Callback record = [&](const std::string& name, const auto& node) {
        visits.emplace_back(name, node);
        return true;
    };
    EXPECT_TRUE((directory.*foreach)(record));
    return visits;
}

} // namespace

TEST(NodeTest, TypesAndTimestamps)
{
    Directory directory;
    File file;
    EXPECT_EQ(1u, directory.GetType());
    EXPECT_EQ(2u, file.GetType());
    ExpectTimes(directory, 0, 0);
    ExpectTimes(file, 0, 0);
    EXPECT_EQ(0u, file.GetSize());

    // The first argument is the created time, the second the modified time.
    ExpectTimes(Directory(FileTimeOf(0x0123456789ABCDEFull), FileTimeOf(42)), 0x0123456789ABCDEFull, 42);
    ExpectTimes(File(FileTimeOf(7), FileTimeOf(0xFFFFFFFF00000001ull)), 7, 0xFFFFFFFF00000001ull);

    NodeIf& node = file;
    node.SetCreated(FileTimeOf(100));
    node.SetModified(FileTimeOf(200));
    ExpectTimes(file, 100, 200);
}

TEST(DirectoryTest, AddNodeKeepsTheFirstChildOfAName)
{
    Directory directory;
    const boost::shared_ptr<Node> first = boost::make_shared<File>();
    const boost::shared_ptr<Node> second = boost::make_shared<Directory>();
    EXPECT_TRUE(directory.AddNode("x", first));
    EXPECT_FALSE(directory.AddNode("x", second));
    EXPECT_EQ(first, directory.GetChildNode("x"));
    EXPECT_EQ(1u, directory.GetCount());
    EXPECT_EQ(1, second.use_count()) << "a refused node must not be referenced";

    EXPECT_FALSE(directory.GetChildNode("y"));
    EXPECT_FALSE(directory.GetChildNode("X"));
    EXPECT_FALSE(directory.GetChildNode("x ")) << "lookup matches the whole name";

    // Any name is accepted; the same node may live under several names.
    EXPECT_TRUE(directory.AddNode("", first));
    EXPECT_TRUE(directory.AddNode("a/b", first));
    EXPECT_TRUE(directory.AddNode(std::string("n\0ul", 4), first));
    EXPECT_EQ(first, directory.GetChildNode(std::string("n\0ul", 4)));
    EXPECT_FALSE(directory.GetChildNode("n"));
    EXPECT_EQ(4u, directory.GetCount());

    EXPECT_FALSE(directory.AddNode("empty", boost::shared_ptr<Node>()));
    EXPECT_EQ(4u, directory.GetCount());
}

TEST(DirectoryTest, ChildrenAreVisitedInUnsignedByteOrder)
{
    Directory directory;
    for (const char* name : {"b", "\xE3\x81\x82", "B", "a\x80", "ab", "a", "a\x7F"})
        directory.AddNode(name, boost::make_shared<File>());
    std::vector<std::string> names;
    for (const auto& visit : VisitAll(directory, &Directory::ForeachNode)) names.push_back(visit.first);
    const std::vector<std::string> expected{"B", "a", "ab", "a\x7F", "a\x80", "b", "\xE3\x81\x82"};
    EXPECT_EQ(expected, names);
}

TEST(DirectoryTest, IterationStopsAtTheFirstFalse)
{
    Directory directory;
    EXPECT_TRUE(VisitAll(directory, &Directory::ForeachNode).empty());

    for (const char* name : {"a", "b", "c", "d"}) directory.AddNode(name, boost::make_shared<File>());
    std::vector<std::string> seen;
    Directory::NodeCallback stop_at_second = [&](const std::string& name, const boost::shared_ptr<Node>&) {
        seen.push_back(name);
        return seen.size() < 2;
    };
    EXPECT_FALSE(directory.ForeachNode(stop_at_second));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), seen);

    Directory::FileCallback stop_files = [&](const std::string& name, const boost::shared_ptr<File>&) {
        return name != "c";
    };
    EXPECT_FALSE(directory.ForeachFile(stop_files));
}

TEST(DirectoryTest, TypedIterationsVisitOnlyTheirType)
{
    Directory only_directories;
    only_directories.AddNode("x", boost::make_shared<Directory>());
    only_directories.AddNode("y", boost::make_shared<Directory>());
    EXPECT_TRUE(VisitAll(only_directories, &Directory::ForeachFile).empty());

    Directory mixed;
    const boost::shared_ptr<File> file = boost::make_shared<File>();
    const boost::shared_ptr<File> second_file = boost::make_shared<File>();
    const boost::shared_ptr<Directory> sub = boost::make_shared<Directory>();
    mixed.AddNode("f1", file);
    mixed.AddNode("d1", sub);
    mixed.AddNode("f2", second_file);
    EXPECT_EQ((Visits{{"f1", file}, {"f2", second_file}}), VisitAll(mixed, &Directory::ForeachFile));
    EXPECT_EQ((Visits{{"d1", sub}}), VisitAll(mixed, &Directory::ForeachDirectory));
    EXPECT_EQ(2, file.use_count()) << "the typed pointer is released after the call";
}

TEST(DirectoryTest, EmptyCallbackFailsOnlyWhenAChildIsReached)
{
    Directory directory;
    Directory::NodeCallback empty_nodes;
    Directory::FileCallback empty_files;
    EXPECT_TRUE(directory.ForeachNode(empty_nodes));
    directory.AddNode("d", boost::make_shared<Directory>());
    EXPECT_TRUE(directory.ForeachFile(empty_files)) << "no file child is visited";
    EXPECT_THROW(directory.ForeachNode(empty_nodes), std::runtime_error);
    directory.AddNode("f", boost::make_shared<File>());
    EXPECT_THROW(directory.ForeachFile(empty_files), boost::bad_function_call);
}

TEST(ArchiveTest, RootIsEmptyAndSharedBetweenCopies)
{
    Archive archive;
    EXPECT_EQ(NodeDirectory, archive.GetRoot().GetType());
    EXPECT_EQ(0u, archive.GetRoot().GetCount());
    EXPECT_EQ(0u, TicksOf(archive.GetRoot().GetCreated()));

    Archive copy(archive);
    copy.GetRoot().AddNode("n", boost::make_shared<File>());
    EXPECT_EQ(&archive.GetRoot(), &copy.GetRoot());
    EXPECT_EQ(1u, archive.GetRoot().GetCount());
}

namespace {

// A chain of nested directories, each holding the next under "d".
boost::shared_ptr<Directory> Chain(int depth, boost::shared_ptr<Directory>* middle = nullptr)
{
    const boost::shared_ptr<Directory> top = boost::make_shared<Directory>();
    boost::shared_ptr<Directory> current = top;
    for (int i = 0; i < depth; ++i) {
        const boost::shared_ptr<Directory> next = boost::make_shared<Directory>();
        current->AddNode("d", next);
        if (middle && i == depth / 2) *middle = next;
        current = next;
    }
    current->AddNode("f", boost::make_shared<File>());
    return top;
}

int Depth(boost::shared_ptr<Directory> directory)
{
    int depth = 0;
    while (auto next = boost::dynamic_pointer_cast<Directory>(directory->GetChildNode("d"))) {
        directory = next;
        ++depth;
    }
    return directory->GetChildNode("f") ? depth : -1;
}

} // namespace

TEST(DirectoryTest, DeepTreesAreReleasedWithoutRecursion)
{
    // Far deeper than a recursive release could survive on the stack.
    const int depth = 300000;
    boost::shared_ptr<Directory> middle;
    boost::shared_ptr<Directory> top = Chain(depth, &middle);
    top.reset();
    // A directory that a caller still holds keeps its whole subtree.
    ASSERT_TRUE(middle);
    EXPECT_EQ(depth - depth / 2 - 1, Depth(middle));

    // A subtree held only by two parents survives the release of one of them.
    Archive first;
    Archive second;
    {
        const boost::shared_ptr<Directory> shared = Chain(10);
        first.GetRoot().AddNode("s", shared);
        second.GetRoot().AddNode("s", shared);
    }
    first = Archive();
    EXPECT_EQ(10, Depth(boost::dynamic_pointer_cast<Directory>(second.GetRoot().GetChildNode("s"))));
}
