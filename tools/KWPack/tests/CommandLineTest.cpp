// The built KWPack as a user runs it: exit codes, messages, files.
#include "PackTestSupport.h"

#include <boost/filesystem/operations.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = boost::filesystem;
using namespace kwpack_test;
using testing::HasSubstr;
using testing::Not;

TEST(CommandLine, EverySubcommandHasHelpAndBadUsageFails)
{
    for (const char* command : {"keygen", "script", "build", "make", "inspect", "check"}) {
        RunResult help = RunKWPack({command, "--help"});
        EXPECT_EQ(help.exit_code, 0) << command;
        EXPECT_THAT(help.out, HasSubstr(std::string("usage: KWPack ") + command));
        RunResult bad = RunKWPack({command});
        EXPECT_NE(bad.exit_code, 0) << command;
        EXPECT_THAT(bad.err, HasSubstr("usage:"));
    }
    EXPECT_EQ(RunKWPack({"--help"}).exit_code, 0);
    EXPECT_NE(RunKWPack({}).exit_code, 0);
    EXPECT_NE(RunKWPack({"unpack"}).exit_code, 0);
    EXPECT_NE(RunKWPack({"build", "a", "b"}).exit_code, 0);  // --key is required
    EXPECT_EQ(RunKWPack({"build", "a", "b", "--key", "k", "--jobs", "0"}).exit_code, 2);

    // A time that is not a plain count of seconds would make packages that
    // no second build can match: refused before the trees are read.
    for (const std::string epoch : {"-1", "1.5", "1700000000 ", "99999999999999999999"}) {
        testsupport::SetEnvironment("SOURCE_DATE_EPOCH", epoch);
        RunResult bad = RunKWPack({"script", "no-old", "no-new", "out", "--from", "1.0", "--to", "1.1"});
        EXPECT_EQ(bad.exit_code, 2) << epoch;
        EXPECT_THAT(bad.err, HasSubstr("SOURCE_DATE_EPOCH must be a count of seconds, not \"" + epoch + "\""));
    }
    testsupport::SetEnvironment("SOURCE_DATE_EPOCH", "");
}

TEST(CommandLine, KeygenWritesAPrivateKeyForOwnerOnlyAndTheModulusLittleEndian)
{
    TempDir dir;
    RunResult run = RunKWPack({"keygen", (dir / "k.pem").string(), (dir / "lmfile").string(), "--bits", "1024"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(::stat((dir / "k.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif

    EVP_PKEY* key = ReadPrivateKey(dir / "k.pem");
    ASSERT_NE(key, nullptr);
    BIGNUM *n = nullptr, *e = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n), 1);
    ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e), 1);
    EXPECT_EQ(BN_num_bits(n), 1024);
    EXPECT_TRUE(BN_is_word(e, 65537));
    std::string expected(std::size_t(BN_num_bytes(n)), '\0');
    BN_bn2lebinpad(n, reinterpret_cast<unsigned char*>(&expected[0]), int(expected.size()));
    EXPECT_EQ(ReadFile(dir / "lmfile"), expected);
    BN_free(n);
    BN_free(e);
    EVP_PKEY_free(key);

    // Existing files stay unless --force; a refused run changes neither.
    const std::string pem = ReadFile(dir / "k.pem");
    run = RunKWPack({"keygen", (dir / "k.pem").string(), (dir / "other").string(), "--bits", "1024"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("exists; use --force"));
    EXPECT_FALSE(fs::exists(dir / "other"));
    run = RunKWPack({"keygen", (dir / "k.pem").string(), (dir / "lmfile").string(), "--bits", "1024", "--force"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(ReadFile(dir / "k.pem"), pem);

    for (const char* bits : {"512", "8192", "20x"})
        EXPECT_NE(RunKWPack({"keygen", (dir / "n.pem").string(), (dir / "n.lm").string(), "--bits", bits}).exit_code, 0)
            << bits;
    EXPECT_FALSE(fs::exists(dir / "n.pem"));
}

TEST(CommandLine, RefusesMissingKeyNamesWithoutCp932FormAndUnreadableFiles)
{
    TempDir dir;
    WriteFile(dir / "old/a.txt", "a");
    WriteFile(dir / "new/a.txt", "b");
    const std::string key = SharedKey().pem.string();

    RunResult run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), (dir / "p.kwu").string(), "--key",
                               (dir / "none.pem").string(), "--from", "1", "--to", "2"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot open private key"));

    // Hangul has no CP932 form: the name cannot travel in a package.
    WriteFile(dir / "new/한국어.txt", "k");
    run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), (dir / "p.kwu").string(), "--key", key,
                     "--from", "1", "--to", "2"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("has no CP932 form"));
    fs::remove(dir / "new/한국어.txt");
#ifndef _WIN32
    // Nor can a name that Windows cannot hold (a name Windows cannot even make).
    WriteFile(dir / "new/sub/nul.txt", "n");
    run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), (dir / "p.kwu").string(), "--key", key,
                     "--from", "1", "--to", "2"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("the name of " + (dir / "new/sub/nul.txt").string() +
                                   " is refused by the updater: it is a device name of Windows"));
    EXPECT_FALSE(fs::exists(dir / "p.kwu"));
    fs::remove_all(dir / "new/sub");
#endif

    run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), (dir / "p.kwu").string(), "--key", key,
                     "--from", "1", "--to", "2", "--quiet"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir / "p.kwu"));
    run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), (dir / "p.kwu").string(), "--key", key,
                     "--from", "1", "--to", "2"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("exists; use --force"));

#ifndef _WIN32
    // An unreadable file, for a user who cannot read it (root reads anything).
    // Permission bits and users are POSIX.
    WriteFile(dir / "src/secret.txt", "secret");
    ::chmod((dir / "src/secret.txt").c_str(), 0);
    std::vector<std::string> prefix;
    fs::copy_file(key, dir / "key.pem");
    if (::geteuid() == 0) {
        if (testsupport::RunProgram({"setpriv", "--version"}).exit_code != 0) GTEST_SKIP() << "needs setpriv to drop root";
        fs::permissions(dir.path(), fs::perms::all_all);
        prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        // The key must be readable by that user.
        ::chmod((dir / "key.pem").c_str(), 0644);
    }
    run = RunKWPack({"build", (dir / "src").string(), (dir / "q.kwu").string(), "--key", (dir / "key.pem").string()},
                    prefix);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot read"));
    EXPECT_THAT(run.err, HasSubstr("secret.txt"));
    EXPECT_FALSE(fs::exists(dir / "q.kwu"));
#endif
}

TEST(CommandLine, InspectAcceptsWhatMakeBuiltAndRefusesTamperedPackages)
{
    TempDir dir;
    WriteFile(dir / "old/readme.txt", "old");
    WriteFile(dir / "new/readme.txt", "new text");
    WriteFile(dir / "new/日本語/説明.txt", "説明");
    const std::string key = SharedKey().pem.string(), lmfile = SharedKey().key_file.string();
    const std::string package = (dir / "p.kwu").string();
    RunResult run = RunKWPack({"make", (dir / "old").string(), (dir / "new").string(), package, "--key", key, "--from",
                               "1.0", "--to", "1.1"});
    ASSERT_EQ(run.exit_code, 0) << run.err;

    run = RunKWPack({"inspect", package, "--lmfile", lmfile});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("version 0111, content key verified"));
    EXPECT_THAT(run.out, HasSubstr("           8  created "));  // readme.txt's size
    EXPECT_THAT(run.out, HasSubstr("日本語/説明.txt"));
    EXPECT_THAT(run.out, HasSubstr("<update from=\"1.0\" to=\"1.1\">"));
    EXPECT_THAT(run.out, Not(HasSubstr("progress:")));
    // The same facts as JSON, names in UTF-8.
    run = RunKWPack({"inspect", package, "--lmfile", lmfile, "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report.at("version"), "0111");
    EXPECT_EQ(report.at("files"), 3);  // readme.txt, 説明.txt, update.xml
    EXPECT_THAT(run.out, HasSubstr("\"path\": \"日本語/説明.txt\""));
    EXPECT_THAT(report.at("script").get<std::string>(), HasSubstr("<update from=\"1.0\" to=\"1.1\">"));

    // One flipped ciphertext byte, a wrong key file, a cut package: refused.
    std::string bytes = ReadFile(package);
    bytes[bytes.size() - 20] ^= 1;
    WriteFile(dir / "flipped.kwu", bytes);
    run = RunKWPack({"inspect", (dir / "flipped.kwu").string(), "--lmfile", lmfile});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_THAT(run.err, HasSubstr("hash unmatched"));

    ASSERT_EQ(RunKWPack({"keygen", (dir / "o.pem").string(), (dir / "o.lm").string(), "--bits", "1024"}).exit_code, 0);
    EXPECT_EQ(RunKWPack({"inspect", package, "--lmfile", (dir / "o.lm").string()}).exit_code, 1);
    WriteFile(dir / "cut.kwu", ReadFile(package).substr(0, 200));
    EXPECT_EQ(RunKWPack({"inspect", (dir / "cut.kwu").string(), "--lmfile", lmfile}).exit_code, 1);
}
