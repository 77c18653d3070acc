// The update script on temporary installations with hand-made extraction
// directories: console lines, the disk afterwards, the stage record and every
// failure text with its label.
#include "CleanUp.h"
#include "ConsoleListener.h"
#include "FileAttributes.h"
#include "StageRecord.h"
#include "TestSupport.h"
#include "UpdateScript.h"
#include "UpdaterTestSupport.h"

#include <kw/xml/XmlDocument.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

namespace fs = boost::filesystem;
using namespace kw::updater;
using testing::HasSubstr;
using testsupport::Capture;
using testsupport::ReadFile;
using testsupport::SnapshotTree;
using testsupport::TempDir;
using updatertest::FailureOf;

namespace {

const auto Sha256 = testsupport::OpenSslSha256Text;
const auto Write = testsupport::WriteFile;
Env& env = testsupport::SystemEnv();

// The message must read "At UpdateScript.cpp(<line>) in <label>()\n<text>".
void ExpectLocated(const std::string& message, const std::string& file, const std::string& label,
                   const std::string& text)
{
    EXPECT_THAT(message, testing::AllOf(testing::StartsWith("At " + file + "("),
                                        testing::EndsWith(") in " + label + "()\n" + text)));
}

// The element that replaces `name`, whose old version holds `old_content`.
std::string Modify(const std::string& name, const std::string& old_content)
{
    return "<modify name='" + name + "' digest='" + Sha256(old_content) + "'/>";
}

// One installation (inst/) beside a directory that must never change
// (outside/), with the extraction directory of package "pkg".
class UpdateScriptTest : public ::testing::Test {
protected:
    UpdateScriptTest()
        : base(temp / "inst"), outside(temp / "outside"), extract(base / ".update" / "pkg"),
          paths(env, base / "pkg.kwp"), backups(env, paths.backup_dir)
    {
        fs::create_directories(extract);
        Write(outside / "victim.txt", "outside");
        Capture quiet(std::cout);
        FinishStage(context, paths.stage_file, 2); // as the driver leaves it before the script
    }

    void Script(const std::string& xml) { Write(extract / "update.xml", xml); }
    // A script from 1.0 to 1.1 with `body` inside its root element.
    void Steps(const std::string& body) { Script("<u from='1.0' to='1.1'>" + body + "</u>"); }
    void Installed(const std::string& name, const std::string& bytes) { Write(base / name, bytes); }
    void Extracted(const std::string& name, const std::string& bytes) { Write(extract / name, bytes); }
    std::string InstalledText(const std::string& name) { return ReadFile(base / name); }
    int Stage() { return ReadStage(env, paths.stage_file); }

    // Runs the script from `stage`; returns what it printed.
    std::string Run(int stage)
    {
        Capture out(std::cout);
        replace(ScriptRun{context, paths, backups}, stage);
        return out.text();
    }

    // Runs the script and returns the message of the error it fails with.
    std::string Fail(int stage, std::string* printed = nullptr)
    {
        Capture out(std::cout);
        const std::string message =
            FailureOf<kw::ModuleError>([&] { replace(ScriptRun{context, paths, backups}, stage); }).message;
        if (printed) *printed = out.text();
        return message;
    }

    // Cleans up after the update, which must print no error.
    void PostProcess()
    {
        Capture err(std::cerr);
        post_process(context, paths, backups);
        EXPECT_EQ("", err.text());
    }

    TempDir temp;
    fs::path base, outside, extract;
    ConsoleListener console;
    const Context context{env, console};
    const UpdatePaths paths;
    Backups backups;
};

const std::string kStage3Done = "\nStage 3 Completed!\nBegin Stage 4/4\n";

// ---------------------------------------------------------------------------
// A whole script

class FullScriptTest : public UpdateScriptTest {
protected:
    FullScriptTest()
    {
        Installed("readme.txt", "readme 1.0");
        Installed("bin/main.dll", "main 1.0");
        Installed("bin/lib.dll", "lib 1.1");                  // replaced by an earlier run...
        Write(base / ".backup/1.0/bin/lib.dll", "lib 1.0");   // ...whose backup proves 1.0
        // The user's own files, named as a temporary beside a target might be.
        Installed("readme.txt.kwtmp", "the user's notes");
        Installed("bin/main.dll.kwtmp/keep.txt", "the user's directory");

        Extracted("readme.txt", "readme 1.1, longer than before");
        Extracted("news.txt", "news");
        Extracted("bin/main.dll", "main 1.1");
        Extracted("bin/plugins/a.dll", "plugin a");
        // Document order differs from the fixed order modify, add, mkdir.
        // Prefixes: none for "/", "/" for an empty path, "bin/" for "bin/".
        Script("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<update from=\"1.0\" to=\"1.1\">\n"
               "  <version_check>\n"
               "    <digest file=\"bin/main.dll\">\n      " + Sha256("main 1.0") + "\n    </digest>\n"
               "    <digest file=\"/bin/lib.dll\">" + Sha256("lib 1.0") + "</digest>\n"
               "  </version_check>\n"
               "  <dir path=\"/\">\n"
               "    <modify name=\"readme.txt\" digest=\"" + Sha256("readme 1.0") + "\"/>\n"
               "  </dir>\n"
               "  <dir path=\"\"><add name=\"news.txt\"/></dir>\n"
               "  <dir path=\"bin/\">\n"
               "    <mkdir name=\"plugins\"/>\n"
               "    <modify digest=\"" + Sha256("main 1.0") + "\" name=\"main.dll\"/>\n"
               "  </dir>\n"
               "  <dir path=\"bin/plugins\"><add name=\"a.dll\"/></dir>\n"
               "</update>\n");
    }
};

TEST_F(FullScriptTest, ChecksVersionsBacksUpReplacesAddsAndCreatesInOrder)
{
    const std::uint64_t created = 130000000000000000ULL, modified = 131000000000000000ULL;
    SetFsAttributes(env, extract / "readme.txt", testsupport::Ticks(created), testsupport::Ticks(modified));
    SetFsAttributes(env, extract / "news.txt", testsupport::Ticks(created + 1), testsupport::Ticks(modified + 1));

    EXPECT_EQ(kStage3Done +
                  " begin update: ver1.0 => ver1.1\n"
                  " copy file: readme.txt\n"
                  " copy file: /news.txt\n"
                  " copy file: bin/main.dll\n"
                  " create directory: bin/plugins\n"
                  " copy file: bin/plugins/a.dll\n",
              Run(3));

    EXPECT_EQ(3, Stage());
    EXPECT_EQ("readme 1.1, longer than before", InstalledText("readme.txt"));
    EXPECT_EQ("readme 1.0", ReadFile(base / ".backup/1.0/readme.txt"));
    EXPECT_EQ("main 1.1", InstalledText("bin/main.dll"));
    EXPECT_EQ("main 1.0", ReadFile(base / ".backup/1.0/bin/main.dll"));
    EXPECT_EQ("news", InstalledText("news.txt"));
    EXPECT_EQ("plugin a", InstalledText("bin/plugins/a.dll"));
    EXPECT_FALSE(fs::exists(base / ".backup/1.0/news.txt")); // additions take no backup
    EXPECT_FALSE(fs::exists(paths.temporary));
    EXPECT_EQ("the user's notes", InstalledText("readme.txt.kwtmp"));
    EXPECT_EQ("the user's directory", InstalledText("bin/main.dll.kwtmp/keep.txt"));

    // Replaced and added files alike take the extracted file's times.
    updatertest::ExpectTimes(base / "readme.txt", created, modified);
    updatertest::ExpectTimes(base / "news.txt", created + 1, modified + 1);
    if (testsupport::UnderWine()) GTEST_SKIP() << testsupport::kNoCreationTimesUnderWine;
}

TEST_F(FullScriptTest, SecondRunFromStage4OnlySkipsAndChangesNothing)
{
    Run(3);
    const auto before = SnapshotTree(base);

    EXPECT_EQ(" begin update: ver1.0 => ver1.1\n"
              " skip file: readme.txt\n"
              " skip file: /news.txt\n"
              " skip file: bin/main.dll\n"
              " skip directory: bin/plugins\n"
              " skip file: bin/plugins/a.dll\n",
              Run(4));
    EXPECT_EQ(before, SnapshotTree(base));
    EXPECT_EQ(3, Stage());
}

TEST_F(FullScriptTest, PostProcessRemovesThisUpdatesWorkingFilesAndBackupsOnly)
{
    Run(3);
    Write(paths.temp_package, "package");
    Write(paths.temporary, "left by an interrupted placement");
    Write(base / ".update/other.stage", "\2\0\0\0");
    Write(base / ".update/other/update.xml", "<x/>");
    Write(base / ".backup/0.9/readme.txt", "older update");

    PostProcess();
    EXPECT_FALSE(fs::exists(extract));
    EXPECT_FALSE(fs::exists(paths.temp_package));
    EXPECT_FALSE(fs::exists(base / ".update/pkg.stage"));
    EXPECT_FALSE(fs::exists(paths.temporary));
    EXPECT_FALSE(fs::exists(base / ".backup/1.0"));
    EXPECT_TRUE(fs::exists(base / ".update/other.stage"));
    EXPECT_TRUE(fs::exists(base / ".update/other/update.xml"));
    EXPECT_TRUE(fs::exists(base / ".backup/0.9/readme.txt"));
    EXPECT_EQ("readme 1.1, longer than before", InstalledText("readme.txt"));
}

TEST_F(FullScriptTest, PostProcessOfTheOnlyUpdateRemovesBothWorkingDirectories)
{
    Run(3);
    PostProcess();
    EXPECT_FALSE(fs::exists(base / ".update"));
    EXPECT_FALSE(fs::exists(base / ".backup"));
}

// ---------------------------------------------------------------------------
// Resuming and refusing

TEST_F(UpdateScriptTest, HalfCopiedTargetWithGoodBackupIsCopiedAgainWithoutNewBackup)
{
    Installed("readme.txt", "readme 1.");                  // cut short by an interruption
    Write(base / ".backup/1.0/readme.txt", "readme 1.0");
    Extracted("readme.txt", "readme 1.1");
    Steps("<dir path='/'>" + Modify("readme.txt", "readme 1.0") + "</dir>");

    EXPECT_EQ(" begin update: ver1.0 => ver1.1\n copy file: readme.txt\n", Run(4));
    EXPECT_EQ("readme 1.1", InstalledText("readme.txt"));
    EXPECT_EQ("readme 1.0", ReadFile(base / ".backup/1.0/readme.txt"));
}

TEST_F(UpdateScriptTest, LocallyEditedFileStopsTheRunAndEarlierFilesStayReplaced)
{
    Installed("a.txt", "a 1.0");
    Installed("b.txt", "b edited by hand");
    Extracted("a.txt", "a 1.1");
    Extracted("b.txt", "b 1.1");
    Steps("<dir path='/'>" + Modify("a.txt", "a 1.0") + Modify("b.txt", "b 1.0") + "</dir>");

    std::string printed;
    ExpectLocated(Fail(3, &printed), "UpdateScript.cpp", "modify_file", "unmatch file!");
    EXPECT_EQ(kStage3Done + " begin update: ver1.0 => ver1.1\n copy file: a.txt\n", printed);
    EXPECT_EQ(3, Stage());
    EXPECT_EQ("a 1.1", InstalledText("a.txt"));
    EXPECT_EQ("a 1.0", ReadFile(base / ".backup/1.0/a.txt"));
    EXPECT_EQ("b edited by hand", InstalledText("b.txt"));
    EXPECT_FALSE(fs::exists(base / ".backup/1.0/b.txt"));
    EXPECT_FALSE(fs::exists(paths.temporary));

    // A backup that is not the old version does not allow copying either.
    Write(base / ".backup/1.0/b.txt", "b 0.9");
    ExpectLocated(Fail(4), "UpdateScript.cpp", "modify_file", "unmatch file!");
    EXPECT_EQ("b edited by hand", InstalledText("b.txt"));
}

TEST_F(UpdateScriptTest, MissingInstalledFileFailsWithTheHashingError)
{
    Extracted("gone.txt", "new");
    Steps("<dir path='/'>" + Modify("gone.txt", "old") + "</dir>");
    ExpectLocated(Fail(4), "Sha256Utils.cpp", "sha256utils::hash_from_file", "cannot open file");
    EXPECT_FALSE(fs::exists(base / "gone.txt"));
}

TEST_F(UpdateScriptTest, ExistingAdditionIsSkippedEvenWithOtherContent)
{
    Installed("news.txt", "local news");
    Extracted("news.txt", "news");
    Steps("<dir path='/'><add name='news.txt'/></dir>");
    EXPECT_EQ(" begin update: ver1.0 => ver1.1\n skip file: news.txt\n", Run(4));
    EXPECT_EQ("local news", InstalledText("news.txt"));
}

// ---------------------------------------------------------------------------
// Selection: exact attribute sets

TEST_F(UpdateScriptTest, ElementsWithOtherAttributeSetsAreIgnoredWithoutMessage)
{
    Installed("readme.txt", "readme 1.0");
    Installed("bin/main.dll", "main 1.0");
    Extracted("readme.txt", "readme 1.1");
    Extracted("news.txt", "news");
    const std::string wrong = Sha256("something else");
    Script("<u from='1.0' to='1.1' producer='extra attributes on the root do no harm'>"
           "<version_check kind='x'><digest file='bin/main.dll'>" + wrong + "</digest></version_check>"
           "<version_check><digest file='bin/main.dll' note='x'>" + wrong + "</digest></version_check>"
           "<dir path='/'>"
           "<modify name='readme.txt' digest='" + Sha256("readme 1.0") + "' mode='x'/>"
           "<modify name='readme.txt'/>"
           "<add name='news.txt' mode='x'/>"
           "<mkdir name='newdir' x='y'/>"
           "<copy name='news.txt'/>"
           "</dir>"
           "<dir path='bin' x='y'><add name='news.txt'/></dir>"
           "<dir><add name='news.txt'/></dir>"
           "</u>");
    // The stage file changes; the rest must not.
    const auto before = SnapshotTree(base, {".update/pkg.stage"});

    EXPECT_EQ(kStage3Done + " begin update: ver1.0 => ver1.1\n", Run(3));
    EXPECT_EQ(before, SnapshotTree(base, {".update/pkg.stage"}));
    EXPECT_EQ(3, Stage());
}

TEST_F(UpdateScriptTest, UpperCaseDigestsNeverMatch)
{
    Installed("bin/main.dll", "main 1.0");
    std::string upper = Sha256("main 1.0");
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Steps("<version_check><digest file='bin/main.dll'>" + upper + "</digest></version_check>");
    ExpectLocated(Fail(3), "UpdateScript.cpp", "check_version_tag", "version unmatched!");
    EXPECT_EQ(2, Stage());

    Extracted("bin/main.dll", "main 1.1");
    Steps("<dir path='bin'><modify name='main.dll' digest='" + upper + "'/></dir>");
    ExpectLocated(Fail(4), "UpdateScript.cpp", "modify_file", "unmatch file!");
    EXPECT_EQ("main 1.0", InstalledText("bin/main.dll"));
}

TEST_F(UpdateScriptTest, ScriptWithoutVersionCheckGoesStraightToTheFileOperations)
{
    // The `to` version is only shown: a character without a CP932 form does
    // not stop the update.
    Extracted("news.txt", "news");
    Script("<u from='1.0' to='1.1 \xE2\x9C\x93'><dir path='/'><add name='news.txt'/></dir></u>");
#ifdef _WIN32
    const std::string shown = "?"; // as well as the CP932 console allows
#else
    const std::string shown = "\xE2\x9C\x93";
#endif
    EXPECT_EQ(kStage3Done + " begin update: ver1.0 => ver1.1 " + shown + "\n copy file: news.txt\n", Run(3));
    EXPECT_EQ("news", InstalledText("news.txt"));
}

// ---------------------------------------------------------------------------
// Failure texts, labels and the stage record left behind

TEST_F(UpdateScriptTest, ScriptThatCannotBeReadStopsBeforeAnythingIsTouched)
{
    ExpectLocated(Fail(3), "UpdateScript.cpp", "replace", "cannot open file");
    EXPECT_EQ(2, Stage());
    // A directory in its place does not open either, on every system.
    fs::create_directories(extract / "update.xml");
    ExpectLocated(Fail(3), "UpdateScript.cpp", "replace", "cannot open file");
    fs::remove(extract / "update.xml");

    Script("<update from='1.0' to='1.1'>\n<dir path='/'>\n</update>\n");
    ExpectLocated(Fail(3), "update.xml", "XML parsing", "mismatched tag");
    EXPECT_EQ(2, Stage());

    Script("");
    ExpectLocated(Fail(3), "update.xml", "XML parsing", "no element found");

    Installed("a.txt", "a");
    Extracted("a.txt", "b");
    Script("<update from='1.0'><dir path='/'><add name='b.txt'/></dir></update>");
    ExpectLocated(Fail(3), "UpdateScript.cpp", "replace_files", "cannot get version from xml");
    Script("<update to='1.1'/>");
    ExpectLocated(Fail(4), "UpdateScript.cpp", "replace_files", "cannot get version from xml");
    EXPECT_EQ(2, Stage());
    EXPECT_FALSE(fs::exists(base / "b.txt"));
}

TEST_F(UpdateScriptTest, VersionCheckFailureLeavesStageTwo)
{
    Installed("bin/main.dll", "main 1.1");
    Extracted("news.txt", "news");
    Steps("<version_check><digest file='bin/main.dll'>" + Sha256("main 1.0") +
          "</digest></version_check><dir path='/'><add name='news.txt'/></dir>");
    std::string printed;
    ExpectLocated(Fail(3, &printed), "UpdateScript.cpp", "check_version_tag", "version unmatched!"); // no backup
    EXPECT_EQ("", printed);
    Write(base / ".backup/1.0/bin/main.dll", "main 0.9");
    ExpectLocated(Fail(3), "UpdateScript.cpp", "check_version_tag", "version unmatched!"); // wrong backup
    EXPECT_EQ(2, Stage());
    EXPECT_FALSE(fs::exists(base / "news.txt"));
}

TEST_F(UpdateScriptTest, MkdirOverAFileFailsAfterSayingSo)
{
    Installed("bin/plugins", "a file");
    Steps("<dir path='bin'><mkdir name='plugins'/></dir>");
    std::string printed;
    ExpectLocated(Fail(3, &printed), "UpdateScript.cpp", "make_directory", "not a directory for <mkdir>");
    EXPECT_EQ(kStage3Done + " begin update: ver1.0 => ver1.1\n not a directory: bin/plugins\n", printed);
    EXPECT_EQ(3, Stage());
    EXPECT_EQ("a file", InstalledText("bin/plugins"));
}

TEST_F(UpdateScriptTest, StepsGuardAgainstMissingAttributes)
{
    Script("<r><dir/><modify name='x'/><add/><mkdir/></r>");
    const XmlElementPtr root = read_script(env, extract)->GetRootElement();
    std::vector<XmlElementPtr> children;
    root->ForeachChildren([&](const XmlElementPtr& e) { children.push_back(e); },
                          kw::xml::XmlElement::TextCallback());
    ASSERT_EQ(4u, children.size());
    const std::string path;
    const ScriptRun run{context, paths, backups};
    const auto expect = [](const updatertest::Failure& failure, const char* label, const char* text) {
        ExpectLocated(failure.message, "UpdateScript.cpp", label, text);
    };
    expect(FailureOf([&] { proc_dir(run, children[0]); }), "proc_dir", "has not path attribute(?)");
    expect(FailureOf([&] { modify_file(run, extract, base, path, children[1]); }), "modify_file",
           "has not name and/or digest attribute(?)");
    expect(FailureOf([&] { add_file(run, extract, base, path, children[2]); }), "add_file",
           "has not name attribute(?)");
    expect(FailureOf([&] { make_directory(run, base, path, children[3]); }), "make_directory",
           "has not name attribute(?) for <mkdir>");
}

// ---------------------------------------------------------------------------
// Names: Japanese text, unsafe forms, ordinary look-alikes

TEST_F(UpdateScriptTest, JapaneseNamesAndPathsNameTheRightFiles)
{
    // In CP932 表, ソ and 能 end in the byte 0x5C; they are ordinary names.
    Installed("データ/表.txt", "表 1.0");
    Extracted("データ/表.txt", "表 1.1");
    Extracted("ソ能.txt", "ソ");
    Extracted("新フォルダ/能.dat", "能");
    Steps("<version_check><digest file='データ/表.txt'>" + Sha256("表 1.0") + "</digest></version_check>"
          "<dir path='/'><mkdir name='新フォルダ'/><add name='ソ能.txt'/></dir>"
          "<dir path='データ'>" + Modify("表.txt", "表 1.0") + "</dir>"
          "<dir path='新フォルダ'><add name='能.dat'/></dir>");

    EXPECT_EQ(kStage3Done + testsupport::ConsoleText(" begin update: ver1.0 => ver1.1\n"
                                                     " copy file: ソ能.txt\n"
                                                     " create directory: 新フォルダ\n"
                                                     " copy file: データ/表.txt\n"
                                                     " copy file: 新フォルダ/能.dat\n"),
              Run(3));
    EXPECT_EQ("表 1.1", InstalledText("データ/表.txt"));
    EXPECT_EQ("表 1.0", ReadFile(base / ".backup/1.0/データ/表.txt"));
    EXPECT_EQ("ソ", InstalledText("ソ能.txt"));
    EXPECT_EQ("能", InstalledText("新フォルダ/能.dat"));
    EXPECT_TRUE(fs::is_directory(base / "新フォルダ"));
}

TEST_F(UpdateScriptTest, LookAlikeNamesAreOrdinary)
{
    for (const char* name : {"..x", "a..b.txt", "COM10.txt"}) Extracted(name, name);
    Steps("<dir path='/'><add name='..x'/><add name='a..b.txt'/><add name='COM10.txt'/></dir>"
          "<dir path='/sub'><mkdir name='..d'/></dir>");
    EXPECT_EQ(" begin update: ver1.0 => ver1.1\n copy file: ..x\n copy file: a..b.txt\n copy file: COM10.txt\n"
              " create directory: sub/..d\n",
              Run(4));
    EXPECT_EQ("COM10.txt", InstalledText("COM10.txt"));
    EXPECT_TRUE(fs::is_directory(base / "sub/..d"));
}

TEST_F(UpdateScriptTest, UnsafeNamesAreRefusedAndNothingOutsideChanges)
{
    const std::string victim = Sha256("outside");
    std::vector<std::string> bodies = {
        "<dir path='/'><mkdir name='../outside/new'/></dir>",
        "<dir path='/'><mkdir name='new.'/></dir>", // Windows cannot hold the name
        "<dir path='/'><modify name='../outside/victim.txt' digest='" + victim + "'/></dir>",
        "<dir path='../outside'><modify name='victim.txt' digest='" + victim + "'/></dir>",
    };
    // Names, and names that Windows cannot hold.
    for (const char* name : {"..", ".", "", "../outside/evil.txt", "..\\evil.txt", "c:evil.txt", "aux", "CON.txt"})
        bodies.push_back("<dir path='/'><add name='" + std::string(name) + "'/></dir>");
    // Directory paths that are no safe relative path.
    for (const char* path : {"bin/x?y", "bin/../../outside", "./bin", "bin//x", "//outside", "\\outside", "C:/outside"})
        bodies.push_back("<dir path='" + std::string(path) + "'><add name='evil.txt'/></dir>");
    for (const char* file : {"../outside/victim.txt", "", "/"})
        bodies.push_back("<version_check><digest file='" + std::string(file) + "'>" + victim +
                         "</digest></version_check>");
    Installed("bin/keep.txt", "keep");
    Installed("victim.txt", "outside");
    // Sources that an unchecked run would find, so only the checks stop it.
    Write(base / ".update/outside/evil.txt", "evil");
    Write(base / ".update/outside/victim.txt", "evil");
    Write(extract / "evil.txt", "evil");
    for (const char* name : {"..\\evil.txt", "c:evil.txt", "bin/x/evil.txt"}) Write(extract / name, "evil");
    const auto outside_before = SnapshotTree(outside);
    const auto base_before = SnapshotTree(base, {".update/pkg/update.xml"});

    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        Steps(body);
        std::string printed;
        // Version checks are made from stage 3 only; the other steps run from stage 4.
        EXPECT_THAT(Fail(body.compare(0, 15, "<version_check>") == 0 ? 3 : 4, &printed), HasSubstr("\nunsafe "));
        EXPECT_THAT(printed, testing::Not(HasSubstr("copy")));
        EXPECT_EQ(2, Stage());
        EXPECT_EQ(outside_before, SnapshotTree(outside));
        EXPECT_EQ(base_before, SnapshotTree(base, {".update/pkg/update.xml"}));
    }
}

TEST_F(UpdateScriptTest, LinksAreBackedUpByContentAndNeverPlaced)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege that Windows programs do not have by default";
#endif
    // An installed link (relative, so a link to it would dangle in .backup)
    // is backed up by its content and replaced itself, not written through.
    fs::create_symlink("../outside/victim.txt", base / "readme.txt");
    Extracted("readme.txt", "readme 1.1");
    Steps("<dir path='/'>" + Modify("readme.txt", "outside") + "</dir>");
    EXPECT_EQ(" begin update: ver1.0 => ver1.1\n copy file: readme.txt\n", Run(4));
    EXPECT_FALSE(fs::is_symlink(base / ".backup/1.0/readme.txt"));
    EXPECT_EQ("outside", ReadFile(base / ".backup/1.0/readme.txt"));
    EXPECT_FALSE(fs::is_symlink(base / "readme.txt"));
    EXPECT_EQ("readme 1.1", InstalledText("readme.txt"));
    EXPECT_EQ("outside", ReadFile(outside / "victim.txt"));

    // A link planted in the extraction directory is refused.
    fs::create_symlink(outside / "victim.txt", extract / "news.txt");
    Steps("<dir path='/'><add name='news.txt'/></dir>");
    ExpectLocated(Fail(4), "UpdateScript.cpp", "PlaceFile",
                  "extracted file \"" + (extract / "news.txt").string() + "\" is a link");
    EXPECT_FALSE(fs::exists(fs::symlink_status(base / "news.txt")));
}

TEST_F(UpdateScriptTest, UnsafeFromVersionIsRefusedBeforeAnyBackup)
{
    Installed("a.txt", "a 1.0");
    Extracted("a.txt", "a 1.1");
    for (const char* from : {"../../outside", "", "1.0/x", "1.0 "}) {
        SCOPED_TRACE(from);
        Script(std::string("<u from='") + from + "' to='1.1'><dir path='/'>" + Modify("a.txt", "a 1.0") + "</dir></u>");
        EXPECT_THAT(Fail(4), HasSubstr("in replace_files()\nunsafe from version"));
        EXPECT_EQ("a 1.0", InstalledText("a.txt"));
        EXPECT_FALSE(fs::exists(base / ".backup"));
        EXPECT_FALSE(fs::exists(temp.path() / "outside" / "a.txt"));
    }
}

TEST_F(UpdateScriptTest, NameWithoutExactCp932FormStopsTheRun)
{
    // An emoji has no CP932 form; 〜 (U+301C) would come back as ～ (U+FF5E)
    // and ¥ as a backslash, naming other files.
    Extracted("up\xEF\xBD\x9E" "1.txt", "new");
    for (const std::string name : {"\xF0\x9F\x98\x80.txt", "up\xE3\x80\x9C" "1.txt", "..\xC2\xA5" "evil.txt"}) {
        Steps("<dir path='/'><add name='" + name + "'/></dir>");
        EXPECT_THAT(FailureOf<std::invalid_argument>([&] { Run(4); }).what,
                    HasSubstr("cannot convert \"" + name + "\""));
    }
    EXPECT_FALSE(fs::exists(base / "up\xEF\xBD\x9E" "1.txt"));
}

// ---------------------------------------------------------------------------
// Clean-up errors

TEST_F(UpdateScriptTest, PostProcessWithoutBackupsSucceeds)
{
    backups.SetFrom("1.0");
    PostProcess();
    EXPECT_FALSE(fs::exists(base / ".update"));
}

TEST_F(UpdateScriptTest, PostProcessReportsAFailureBeforePassingItOn)
{
    // An update directory that is missing cannot be cleaned; the error names
    // a native path, shown as it is.
    const UpdatePaths broken(env, temp / "missing-andr\xC3\xA9" / "pkg.kwp");
    backups.SetFrom("1.0");
    Capture err(std::cerr);
    const std::string failure = FailureOf<fs::filesystem_error>([&] { post_process(context, broken, backups); }).what;
    EXPECT_EQ("Error: " + failure + "\n", err.text());
}

} // namespace
