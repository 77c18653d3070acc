#include "ArchiveExpansion.h"
#include "ConsoleListener.h"
#include "Decompression.h"
#include "PackageFormat.h"
#include "PackageReader.h"
#include "TestSupport.h"
#include "UpdaterTestSupport.h"

#include <kw/archive/Archive.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>
#include <kw/bz2/KWCompress.h>

#include <boost/make_shared.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace fs = boost::filesystem;
using namespace kw::updater;
using kw::archive::Directory;
using kw::archive::File;
using testing::HasSubstr;
using testsupport::Capture;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::Ticks;
using testsupport::WriteFile;
using updatertest::FailureOf;

namespace {

std::string Compress(const std::string& data, int block_size_100k)
{
    std::string out;
    kw::bz2::KWCompress compressor(65536, block_size_100k, 0, 0);
    compressor.Compress(data.data(), static_cast<unsigned>(data.size()), true,
                        [&](const void* p, unsigned n) { out.append(static_cast<const char*>(p), n); });
    return out;
}

Env& env = testsupport::SystemEnv();
UpdateListener silent;

// Archive nodes: a file with its content, a directory with its entries, both
// with their times in 100-ns ticks.
boost::shared_ptr<File> FileOf(const std::string& content, std::uint64_t created = 0, std::uint64_t modified = 0)
{
    auto file = boost::make_shared<File>(Ticks(created), Ticks(modified));
    file->Add(content.data(), static_cast<unsigned>(content.size()));
    return file;
}

typedef std::vector<std::pair<std::string, boost::shared_ptr<kw::archive::Node>>> Entries;
boost::shared_ptr<Directory> DirectoryOf(const Entries& entries, std::uint64_t created = 0, std::uint64_t modified = 0)
{
    auto directory = boost::make_shared<Directory>(Ticks(created), Ticks(modified));
    for (const auto& entry : entries) directory->AddNode(entry.first, entry.second);
    return directory;
}

// Writes an archive whose top "/" is `top` (no top when null) into `extract_dir`.
void Construct(const boost::shared_ptr<kw::archive::Node>& top, const fs::path& extract_dir)
{
    kw::archive::Archive archive;
    if (top) archive.GetRoot().AddNode("/", top);
    construct(env, archive, extract_dir);
}

} // namespace

TEST(PackageHeader, VersionDigitsMagicAndTheNewestAcceptedVersion)
{
    EXPECT_EQ(0x00010000u, get_version("pukw", "0100", "pukw"));
    EXPECT_EQ(kNewestPackageVersion, get_version("pukw", "0111", "pukw"));
    EXPECT_GT(get_version("pukw", "0112", "pukw"), kNewestPackageVersion);
    EXPECT_GT(get_version("pukw", "0200", "pukw"), kNewestPackageVersion);
    EXPECT_EQ(0x09080706u, get_version("KWUP", "9876", "KWUP"));
    EXPECT_THAT(FailureOf([] { get_version("pukx", "0111", "pukw"); }).message,
                HasSubstr("in get_version()\nheader unmatched!!"));
    EXPECT_EQ("illegal version character", FailureOf([] { get_version("pukw", "01a1", "pukw"); }).what);
    EXPECT_EQ("illegal version character", FailureOf([] { get_version("pukw", "011/", "pukw"); }).what);

    std::istringstream short_header("pukw01");
    EXPECT_THAT(FailureOf([&] { read_version(short_header); }).message,
                HasSubstr("in read_version()\nan error occurred while reading header"));
    std::istringstream good("pukw0100rest");
    EXPECT_EQ(0x00010000u, read_version(good));
}

TEST(PackageHeader, KeyFileIsReadWholeOrRefused)
{
    TempDir dir;
    EXPECT_THAT(FailureOf([&] { read_key(env, dir / "none"); }).message,
                HasSubstr("in read_key()\ncannot open key file"));
    WriteFile(dir / "empty", "");
    EXPECT_THAT(FailureOf([&] { read_key(env, dir / "empty"); }).message, HasSubstr("empty key file"));
    WriteFile(dir / "key", std::string("\x01\x00\xFF", 3));
    const KeyBytes key = read_key(env, dir / "key");
    ASSERT_EQ(3u, key.length);
    EXPECT_EQ(0xFF, key.bytes[2]);
}

TEST(CamelliaInfo, LengthWordFirstThenOnlyDeclaredBytesAreWrittenAndHashed)
{
    std::ostringstream out;
    CamelliaInfo info(out);
    EXPECT_THAT(FailureOf([&] { info.Input("abc", 3); }).message, HasSubstr("something wrong: buffer is too few"));

    // With no key at all the digest check fails instead of passing.
    std::ostringstream nothing;
    CamelliaInfo keyless(nothing);
    EXPECT_FALSE(keyless.DigestMatchesKey());

    // L = 0: nothing is written, and the digest is that of the empty message.
    std::ostringstream empty_out;
    CamelliaInfo empty(empty_out);
    const unsigned char sha256_of_nothing[32] = {0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4,
                                                 0xc8, 0x99, 0x6f, 0xb9, 0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b,
                                                 0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52, 0xb8, 0x55};
    empty.SetKey(sha256_of_nothing, 32);
    const std::string length_and_block = std::string(4, '\0') + std::string(16, 'x');
    empty.Input(length_and_block.data(), static_cast<unsigned>(length_and_block.size()));
    EXPECT_EQ("", empty_out.str());
    EXPECT_TRUE(empty.DigestMatchesKey());

    // A 16-byte content key decrypts but can never be the digest.
    std::ostringstream short_out;
    CamelliaInfo short_key(short_out);
    short_key.SetKey(sha256_of_nothing, 16);
    EXPECT_FALSE(short_key.DigestMatchesKey());
}

TEST(DecompressingSource, InnerHeaderIsChecked)
{
    check_inner_header("KWUP0111rest", 12);
    check_inner_header("KWUP011", 7); // a shorter stream is the loader's to refuse
    EXPECT_THAT(FailureOf([] { check_inner_header("KWUP0112", 8); }).message,
                HasSubstr("in check_inner_header()\nUpdate-file is newer than updater, please update updater"));
    EXPECT_THAT(FailureOf([] { check_inner_header("PKZIP111", 8); }).message, HasSubstr("header unmatched!!"));
}

TEST(DecompressingSource, ManyThreadsDeliverWhatOneDoesWithTheSameProgressAndError)
{
    // Incompressible data in blocks of 100 kB: the first compressed reads
    // yield no output at all, and there are blocks for several threads.
    std::string data = "KWUP0111";
    unsigned seed = 7;
    for (int i = 0; i < 1000 * 1000; ++i) {
        seed = seed * 1103515245u + 12345u;
        data.push_back(static_cast<char>(seed >> 16));
    }
    const std::string compressed = Compress(data, 1);
    std::string broken = compressed;
    broken[broken.size() / 2] ^= 0x10;

    struct Run {
        std::string delivered, console, failure;
    };
    auto run = [&](const std::string& stream, unsigned workers, unsigned request) {
        std::istringstream input(stream);
        ConsoleListener console;
        Run result;
        Capture out(std::cout);
        try {
            DecompressingSource source(console, input, stream.size(), workers);
            std::vector<char> buffer(request);
            while (unsigned n = source.Read(buffer.data(), request)) {
                EXPECT_LE(n, request);
                result.delivered.append(buffer.data(), n);
            }
        } catch (const std::exception& e) {
            result.failure = e.what();
        }
        result.console = out.text();
        return result;
    };
    const Run one = run(compressed, 0, 70000);
    EXPECT_TRUE(one.delivered == data);
    EXPECT_NE(std::string::npos, one.console.find(" progress: ")) << one.console.substr(0, 80);
    for (unsigned request : {1u, 64u, 70000u}) {
        const Run many = run(compressed, 3, request);
        EXPECT_TRUE(many.delivered == data) << "request size " << request;
        EXPECT_EQ(one.console, many.console);
    }
    const Run broken_one = run(broken, 0, 4096);
    const Run broken_many = run(broken, 3, 4096);
    EXPECT_NE("", broken_one.failure);
    EXPECT_EQ(broken_one.failure, broken_many.failure);
    EXPECT_EQ(broken_one.console, broken_many.console);
    EXPECT_TRUE(broken_one.delivered == broken_many.delivered);
}

TEST(Expansion, WritesTheTreeWithItsTimesDepthFirst)
{
    TempDir root;
    const std::string content(1025, 'q');
    const auto sub = DirectoryOf({{"a.txt", FileOf(content, 130000000020000000ULL, 130000000030000000ULL)},
                                  {"empty", DirectoryOf({}, 0, 130000000040000000ULL)}},
                                 130000000000000000ULL, 130000000010000000ULL);
    // "\x95\x5C.txt" is 表.txt.
    const auto top = DirectoryOf({{"sub", sub}, {"\x95\x5C.txt", FileOf("", 0, 130000000050000000ULL)}}, 1, 2);

    Construct(top, root / "x");
    EXPECT_EQ(content, ReadFile(root / "x/sub/a.txt"));
    EXPECT_TRUE(fs::is_directory(root / "x/sub/empty"));
    EXPECT_TRUE(fs::is_regular_file(root / "x/\xE8\xA1\xA8.txt"));
    updatertest::ExpectTimes(root / "x/sub/a.txt", 130000000020000000ULL, 130000000030000000ULL);
    // A directory takes its times last, once everything in it is written.
    updatertest::ExpectTimes(root / "x/sub", 130000000000000000ULL, 130000000010000000ULL, true);
    FileTimes empty; // made with no creation time, which systems fill in their own way
    ASSERT_EQ(TimesResult::kDone, env.GetTimes(root / "x/sub/empty", true, empty));
    EXPECT_EQ(130000000040000000ULL, testsupport::TicksOf(empty.modified));

    // A second run over what the first left overwrites it, and never writes
    // into content that an installed file shares with an extracted one.
    WriteFile(root / "x/sub/a.txt", "stale and longer than before........................");
    fs::create_hard_link(root / "x/sub/a.txt", root / "installed.txt");
    Construct(top, root / "x");
    EXPECT_EQ(content, ReadFile(root / "x/sub/a.txt"));
    EXPECT_EQ("stale and longer than before........................", ReadFile(root / "installed.txt"));
}

TEST(Expansion, PlantedLinksAreReplacedNeverFollowed)
{
    TempDir root;
    const auto file = FileOf("new");
    const auto top = DirectoryOf({{"sub", DirectoryOf({{"a.txt", file}})}, {"b.txt", file}});

    // Links at a file's name, at a directory's name and at the extraction
    // directory itself, all pointing out of the working tree.
    WriteFile(root / "outside/victim.txt", "outside");
    fs::create_directories(root / "x");
    fs::create_symlink(root / "outside/victim.txt", root / "x/b.txt");
    fs::create_directory_symlink(root / "outside", root / "x/sub");
    fs::create_directory_symlink(root / "outside", root / "y");
    for (const char* extract_dir : {"x", "y"}) {
        SCOPED_TRACE(extract_dir);
        Construct(top, root / extract_dir);
        for (const char* name : {"", "/sub", "/sub/a.txt", "/b.txt"})
            EXPECT_FALSE(fs::is_symlink(root / (extract_dir + std::string(name)))) << name;
        EXPECT_EQ("new", ReadFile(root / extract_dir / "sub/a.txt"));
        EXPECT_EQ("new", ReadFile(root / extract_dir / "b.txt"));
    }
    EXPECT_EQ("outside", ReadFile(root / "outside/victim.txt"));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(root / "outside"), fs::directory_iterator()));
}

TEST(Expansion, FailuresOfTheTreeAndTheFileSystem)
{
    TempDir root;
    EXPECT_THAT(FailureOf([&] { Construct(nullptr, root / "x"); }).message,
                HasSubstr("in construct()\nroot is not created"));
    EXPECT_TRUE(fs::is_directory(root / "x"));
    EXPECT_EQ("root is not a directory", FailureOf([&] { Construct(FileOf(""), root / "x"); }).what);
    WriteFile(root / "plain", "");
    EXPECT_EQ("base dir is not a directory", FailureOf([&] { Construct(nullptr, root / "plain"); }).what);

    const auto clash = DirectoryOf({{"d", DirectoryOf({})}, {"f", FileOf("")}});
    fs::create_directories(root / "y/f");
    EXPECT_EQ("cannot open file to output", FailureOf([&] { Construct(clash, root / "y"); }).what);
    fs::create_directories(root / "w");
    WriteFile(root / "w/d", "");
    EXPECT_THAT(FailureOf([&] { Construct(clash, root / "w"); }).message,
                HasSubstr("in construct_tree::node_action::operator ()()\npath is already created, but it is not a directory"));
}

TEST(Expansion, UnsafeArchiveNamesAreRefusedBeforeAnythingIsWritten)
{
    const std::vector<std::string> unsafe = {"", ".", "..", "a/b", "..\\evil", "c:x", std::string("a\0b", 3), "/",
                                             // Names that Windows cannot hold.
                                             "CON.txt", "a.", "...", "x?y", "nul", "a "};
    for (const std::string& name : unsafe) {
        TempDir root;
        const auto failure = FailureOf([&] { Construct(DirectoryOf({{name, FileOf("evil")}}), root / "x"); });
        EXPECT_THAT(failure.what, HasSubstr("unsafe name")) << failure.message;
        EXPECT_TRUE(fs::is_empty(root / "x"));
        EXPECT_EQ(1, std::distance(fs::directory_iterator(root.path()), fs::directory_iterator()));
    }
    // Look-alikes and CP932 names whose second byte is 0x5C are ordinary.
    TempDir root;
    Entries ordinary;
    for (const char* name : {"..x", "a..b.txt", "COM10", "\x83\x5C\x94\x5C"}) // ソ能
        ordinary.emplace_back(name, FileOf(""));
    Construct(DirectoryOf(ordinary), root / "x");
    EXPECT_TRUE(fs::exists(root / "x/a..b.txt"));
    EXPECT_TRUE(fs::exists(root / "x/COM10"));
    EXPECT_TRUE(fs::exists(root / "x/\xE3\x82\xBD\xE8\x83\xBD"));
}
