// SHA-256 against the FIPS 180-4 examples and OpenSSL, on both compression
// paths (the processor's SHA extensions and the portable code).
#include "Sha256Compress.h"
#include "Sha256Utils.h"
#include "TestSupport.h"
#include "UpdaterTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using testing::HasSubstr;
using testsupport::Bytes;
using testsupport::RandomBytes;
using updatertest::FailureOf;

std::string OpenSslDigest(const unsigned char* data, std::size_t size)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data, size, digest);
    return sha256utils::digest_to_text(digest);
}

std::string HashInChunks(const unsigned char* data, std::size_t size, std::size_t chunk)
{
    const auto context = sha256utils::create_context();
    for (std::size_t at = 0; at < size; at += chunk)
        sha256utils::update_context(data + at, data + std::min(size, at + chunk), context);
    return sha256utils::digest_to_text(sha256utils::get_digest(context).get());
}

std::string HashText(const std::string& text)
{
    std::istringstream in(text);
    std::string digest;
    sha256utils::hash_from_stream(in, digest);
    return digest;
}

enum class Path { Portable, ShaExtensions };

class Sha256Utils : public testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (GetParam() == Path::ShaExtensions && !sha256utils::detail::sha_extensions_available())
            GTEST_SKIP() << "this processor has no SHA extensions";
        sha256utils::detail::force_portable(GetParam() == Path::Portable);
    }
    void TearDown() override { sha256utils::detail::force_portable(false); }
};

TEST_P(Sha256Utils, PublishedExamplesGiveTheirDigests)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HashText(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashText("abc"));
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              HashText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    EXPECT_EQ("cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
              HashText("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", HashText(std::string(1000000, 'a')));
}

TEST_P(Sha256Utils, EveryLengthUpTo1000MatchesOpenSsl)
{
    // Covers the padding boundaries (55, 56, 63, 64, 65 bytes and their
    // multiples-of-64 counterparts) and the raw digest form.
    const Bytes data = RandomBytes(1000, 1);
    for (std::size_t size = 0; size <= data.size(); ++size)
        ASSERT_EQ(OpenSslDigest(data.data(), size), HashInChunks(data.data(), size, size)) << size << " bytes";
}

TEST_P(Sha256Utils, ChunkingDoesNotChangeTheDigest)
{
    const Bytes data = RandomBytes(300000, 2);
    const std::string expected = OpenSslDigest(data.data(), data.size());
    for (std::size_t chunk : {1, 3, 55, 56, 63, 64, 65, 127, 1000, 1024, 4096, 65535, 65536}) {
        EXPECT_EQ(expected, HashInChunks(data.data(), data.size(), chunk)) << "chunk " << chunk;
    }
    // Mixed sizes, so pending bytes meet every offset.
    std::mt19937 rng(3);
    const auto context = sha256utils::create_context();
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min<std::size_t>(data.size() - at, std::uniform_int_distribution<std::size_t>(0, 65536)(rng));
        sha256utils::update_context(data.data() + at, data.data() + at + n, context);
        at += n;
    }
    EXPECT_EQ(expected, sha256utils::digest_to_text(sha256utils::get_digest(context).get()));
}

TEST_P(Sha256Utils, RangesLargerThan65536BytesCountTheirFullLength)
{
    // A range of several 65 536-byte units must carry through the length words.
    const Bytes data = RandomBytes(3 * 65536 + 65535 + 17, 4);
    EXPECT_EQ(OpenSslDigest(data.data(), data.size()), HashInChunks(data.data(), data.size(), data.size()));
}

TEST_P(Sha256Utils, HashesFilesAndRefusesWhatCannotBeOpened)
{
    testsupport::TempDir dir;
    const std::string content(200000, 'x');
    testsupport::WriteFile(dir / "data.bin", content);
    testsupport::WriteFile(dir / "empty.bin", "");
    EXPECT_EQ(OpenSslDigest(reinterpret_cast<const unsigned char*>(content.data()), content.size()),
              sha256utils::hash_from_file(testsupport::SystemEnv(), dir / "data.bin"));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
              sha256utils::hash_from_file(testsupport::SystemEnv(), dir / "empty.bin"));

    for (const boost::filesystem::path& path : {dir / "missing.bin", dir.path()}) {
        const auto failure = FailureOf([&] { sha256utils::hash_from_file(testsupport::SystemEnv(), path); });
        EXPECT_EQ("cannot open file", failure.what) << path;
        EXPECT_THAT(failure.message, HasSubstr(" in sha256utils::hash_from_file()\n"));
    }
#ifdef _WIN32
    // A file held open without sharing: a hold that stays is named, one that
    // goes away within about a second is waited for.
    const boost::filesystem::path held_path = dir / "data.bin";
    const HANDLE held = ::CreateFileW((dir / "data.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const std::string held_failure =
        FailureOf([&] { sha256utils::hash_from_file(testsupport::SystemEnv(), held_path); }).what;
    EXPECT_THAT(held_failure, HasSubstr("cannot open file: "));
    EXPECT_THAT(held_failure, HasSubstr("data.bin is in use by another process"));
    std::thread release([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::CloseHandle(held);
    });
    EXPECT_EQ(OpenSslDigest(reinterpret_cast<const unsigned char*>(content.data()), content.size()),
              sha256utils::hash_from_file(testsupport::SystemEnv(), held_path));
    release.join();
#endif
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256Utils, testing::Values(Path::Portable, Path::ShaExtensions),
                         [](const testing::TestParamInfo<Path>& info) {
                             return info.param == Path::Portable ? std::string("Portable") : std::string("ShaExtensions");
                         });

} // namespace
