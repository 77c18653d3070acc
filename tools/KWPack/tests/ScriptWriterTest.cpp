#include "PackError.h"
#include "ScriptWriter.h"
#include "PackTestSupport.h"
#include "UpdateScript.h"

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlNode.h>
#include <kw/xml/XmlSearch.h>

#include <boost/filesystem/operations.hpp>

#include <gtest/gtest.h>

namespace fs = boost::filesystem;
using namespace kwpack;
using namespace kwpack_test;
using kw::xml::XmlElement;
using kw::xml::XmlIfElement;
using kw::xml::XmlIfKey;

namespace {

// The digest as an independent implementation computes it.
const auto Sha256Text = testsupport::OpenSslSha256Text;

std::string Attribute(const boost::shared_ptr<XmlElement>& element, const std::string& name)
{
    return element->GetAttribute(name)->GetText();
}

std::string TextOf(const boost::shared_ptr<XmlElement>& element)
{
    std::string text;
    element->ForeachChildren(XmlElement::ElementCallback(),
                             [&](const boost::shared_ptr<kw::xml::XmlText>& t) { text = t->GetText(); });
    return text;
}

unsigned ChildCount(const boost::shared_ptr<XmlElement>& element)
{
    unsigned count = 0;
    element->ForeachChildren([&](const boost::shared_ptr<XmlElement>&) { ++count; }, XmlElement::TextCallback());
    return count;
}

// What the updater would do with the script in `out_dir`, read as the
// updater reads it and selected with its exact attribute sets, as lines
// "<kind> <dir>:<name>[:<digest>]" in the order the updater acts; an element
// it would not select is reported as "unselected".
struct ReadScript {
    std::string from, to;
    std::vector<std::string> checks;
    std::vector<std::string> actions;
};

ReadScript ReadBack(const fs::path& out_dir)
{
    const auto root = kw::updater::read_script(testsupport::SystemEnv(), out_dir)->GetRootElement();

    ReadScript read;
    read.from = Attribute(root, "from");
    read.to = Attribute(root, "to");
    unsigned selected = 0;
    selected += root < XmlIfElement("version_check") > [&](const boost::shared_ptr<XmlElement>& group) {
        unsigned digests = group < XmlIfElement("digest")[XmlIfKey("file")] > [&](const boost::shared_ptr<XmlElement>& d) {
            read.checks.push_back(Attribute(d, "file") + ":" + TextOf(d));
        };
        if (digests != ChildCount(group)) read.checks.push_back("unselected");
    };
    selected += root < XmlIfElement("dir")[XmlIfKey("path")] > [&](const boost::shared_ptr<XmlElement>& dir) {
        const std::string path = Attribute(dir, "path");
        unsigned inside = 0;
        inside += dir < XmlIfElement("modify")[XmlIfKey("digest")][XmlIfKey("name")] > [&](const boost::shared_ptr<XmlElement>& e) {
            read.actions.push_back("modify " + path + ":" + Attribute(e, "name") + ":" + Attribute(e, "digest"));
        };
        inside += dir < XmlIfElement("add")[XmlIfKey("name")] > [&](const boost::shared_ptr<XmlElement>& e) {
            read.actions.push_back("add " + path + ":" + Attribute(e, "name"));
        };
        inside += dir < XmlIfElement("mkdir")[XmlIfKey("name")] > [&](const boost::shared_ptr<XmlElement>& e) {
            read.actions.push_back("mkdir " + path + ":" + Attribute(e, "name"));
        };
        if (inside != ChildCount(dir)) read.actions.push_back("unselected");
    };
    if (selected != ChildCount(root)) read.actions.push_back("unselected");
    return read;
}

struct Trees {
    TempDir dir;
    fs::path old_dir = dir / "old";
    fs::path new_dir = dir / "new";
    fs::path out_dir = dir / "out";

    Trees()
    {
        WriteFile(old_dir / "readme.txt", "old readme");
        WriteFile(new_dir / "readme.txt", "new readme, longer");
        WriteFile(old_dir / "bin/main.dll", "main 1");
        WriteFile(new_dir / "bin/main.dll", "main 2");  // same size, other content
        WriteFile(old_dir / "bin/same.dll", "same");
        WriteFile(new_dir / "bin/same.dll", "same");
        WriteFile(old_dir / "gone.txt", "gone");
        WriteFile(old_dir / "한.txt", "only installed names need no CP932 form");
        WriteFile(old_dir / "olddir/x.txt", "x");
        WriteFile(old_dir / "日本語/説明.txt", "古い");
        WriteFile(new_dir / "日本語/説明.txt", "新しい");
        WriteFile(new_dir / "日本語/追加.txt", "追加");
        WriteFile(new_dir / "news.txt", "news");
        WriteFile(new_dir / "bin/plugins/a.dll", "a");
        WriteFile(new_dir / "bin/plugins/sub/b.dll", "b");
        fs::create_directories(new_dir / "empty");
        fs::create_directories(new_dir / "bin/emptysub");
        fs::create_directories(old_dir / "keptempty");
        fs::create_directories(new_dir / "keptempty");
    }

    ScriptOptions Options() const
    {
        ScriptOptions options;
        options.old_dir = old_dir;
        options.new_dir = new_dir;
        options.out_dir = out_dir;
        options.from = "1.0";
        options.to = "1.1";
        return options;
    }
};

} // namespace

TEST(ScriptWriter, ListsEveryChangeSelectableAsTheUpdaterSelects)
{
    Trees trees;
    const FILETIME created = Ticks(131000000000000000ull), modified = Ticks(131000000000000777ull);
    WriteTimes(testsupport::SystemEnv(), trees.new_dir / "日本語/追加.txt", created, modified);
    const std::uint64_t newest = 150000000000000000ull; // in 2076
    WriteTimes(testsupport::SystemEnv(), trees.new_dir / "news.txt", created, Ticks(newest));

    const ScriptSummary summary = WriteUpdateDirectory(testsupport::SystemEnv(), trees.Options());
    const ReadScript script = ReadBack(trees.out_dir);

    EXPECT_EQ(script.from, "1.0");
    EXPECT_EQ(script.to, "1.1");
    // Parents come before the directories inside them; within one directory
    // the order is the updater's: replacements, additions, new directories.
    EXPECT_EQ(script.actions, (std::vector<std::string>{
                                  "modify /:readme.txt:" + Sha256Text("old readme"),
                                  "add /:news.txt",
                                  "mkdir /:empty",
                                  "modify bin:main.dll:" + Sha256Text("main 1"),
                                  "mkdir bin:emptysub",
                                  "mkdir bin:plugins",
                                  "add bin/plugins:a.dll",
                                  "mkdir bin/plugins:sub",
                                  "add bin/plugins/sub:b.dll",
                                  "modify 日本語:説明.txt:" + Sha256Text("古い"),
                                  "add 日本語:追加.txt",
                              }));
    // By default every replaced file proves the old version.
    EXPECT_EQ(script.checks, (std::vector<std::string>{
                                 "readme.txt:" + Sha256Text("old readme"),
                                 "bin/main.dll:" + Sha256Text("main 1"),
                                 "日本語/説明.txt:" + Sha256Text("古い"),
                             }));
    EXPECT_EQ(summary.removed, (std::vector<std::string>{"gone.txt", "olddir/", "한.txt"}));
    EXPECT_EQ(summary.modified, 3u);
    EXPECT_EQ(summary.added, 4u);
    EXPECT_EQ(summary.created, 4u);

    // The update directory holds the new and changed files, nothing else.
    EXPECT_EQ(ReadFile(trees.out_dir / "日本語/説明.txt"), "新しい");
    EXPECT_EQ(ReadFile(trees.out_dir / "bin/plugins/sub/b.dll"), "b");
    EXPECT_FALSE(fs::exists(trees.out_dir / "bin/same.dll"));
    EXPECT_FALSE(fs::exists(trees.out_dir / "gone.txt"));
    // Written with two-blank indentation.
    EXPECT_NE(ReadFile(trees.out_dir / "update.xml").find("\n  <dir path=\"/\">\n    <modify "), std::string::npos);

    // A creation time read from the disk cannot be vouched for: the
    // modification time stands for it, unless the option carries it.
    FILETIME got_created, got_modified;
    ReadTimes(testsupport::SystemEnv(), trees.out_dir / "日本語/追加.txt", got_created, got_modified);
    EXPECT_EQ(TicksOf(got_modified), TicksOf(modified));
    EXPECT_EQ(TicksOf(got_created), TicksOf(modified));
    ScriptOptions carried = trees.Options();
    carried.out_dir = trees.out_dir.parent_path() / "carried";
    carried.creation_times = true;
    carried.source_date = 1700000000;
    WriteUpdateDirectory(testsupport::SystemEnv(), carried);
    // The script's own time: the newest of the new tree, or the given one.
    FILETIME script_created, script_modified;
    ReadTimes(testsupport::SystemEnv(), trees.out_dir / "update.xml", script_created, script_modified);
    EXPECT_EQ(TicksOf(script_modified), newest);
    ReadTimes(testsupport::SystemEnv(), carried.out_dir / "update.xml", script_created, script_modified);
    EXPECT_EQ(TicksOf(script_modified), (1700000000ull + 11644473600ull) * 10000000ull);
    ReadTimes(testsupport::SystemEnv(), carried.out_dir / "日本語/追加.txt", got_created, got_modified);
    if (testsupport::UnderWine()) GTEST_SKIP() << testsupport::kNoCreationTimesUnderWine;
    EXPECT_EQ(TicksOf(got_created), TicksOf(created));
}

TEST(ScriptWriter, ChecksNamedFilesOnlyAndRefusesNamesThatAreNoInstalledFile)
{
    Trees trees;
    ScriptOptions options = trees.Options();
    options.checks = {"/bin/same.dll", "readme.txt", "bin/same.dll"};
    WriteUpdateDirectory(testsupport::SystemEnv(), options);
    EXPECT_EQ(ReadBack(trees.out_dir).checks,
              (std::vector<std::string>{"bin/same.dll:" + Sha256Text("same"), "readme.txt:" + Sha256Text("old readme")}));

    options.force = true;
    for (const char* bad : {"../old/readme.txt", "news.txt", "bin", "bin//same.dll", "bin\\same.dll"}) {
        options.checks = {bad};
        EXPECT_THROW(WriteUpdateDirectory(testsupport::SystemEnv(), options), PackError) << bad;
    }
    // A refused run leaves the earlier output as it was.
    EXPECT_TRUE(fs::exists(trees.out_dir / "update.xml"));
}

TEST(ScriptWriter, RefusesWhatAScriptCannotExpressOrWouldOverwrite)
{
    Trees trees;
    ScriptOptions options = trees.Options();
    WriteUpdateDirectory(testsupport::SystemEnv(), options);
    // An existing output is kept without --force and replaced with it.
    EXPECT_THROW(WriteUpdateDirectory(testsupport::SystemEnv(), options), PackError);
    WriteFile(trees.new_dir / "later.txt", "later");
    options.force = true;
    WriteUpdateDirectory(testsupport::SystemEnv(), options);
    EXPECT_EQ(ReadFile(trees.out_dir / "later.txt"), "later");

    // The backup directory is named after "from".
    options.from = "1/0";
    EXPECT_THROW(WriteUpdateDirectory(testsupport::SystemEnv(), options), PackError);
    options.from = "1.0";

    // The package's own script takes the name update.xml at the top.
    WriteFile(trees.new_dir / "update.xml", "mine");
    EXPECT_THROW(WriteUpdateDirectory(testsupport::SystemEnv(), options), PackError);
    fs::remove(trees.new_dir / "update.xml");

    // A file that becomes a directory cannot be expressed.
    fs::remove(trees.new_dir / "news.txt");
    fs::rename(trees.new_dir / "readme.txt", trees.new_dir / "news.txt");
    WriteFile(trees.new_dir / "readme.txt/inner.txt", "inner");
    EXPECT_THROW(WriteUpdateDirectory(testsupport::SystemEnv(), options), PackError);
}
