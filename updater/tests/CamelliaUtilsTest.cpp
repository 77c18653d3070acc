// Camellia decryption against the RFC 3713 vectors and against OpenSSL's
// encryption of random data, fed in pieces of many sizes.
#include "CamelliaUtils.h"

#include "TestSupport.h"
#include "UpdaterTestSupport.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::RandomBytes;

Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const EVP_CIPHER* OpenSslEcb(std::size_t key_length)
{
    return key_length == 16 ? EVP_camellia_128_ecb() : key_length == 24 ? EVP_camellia_192_ecb() : EVP_camellia_256_ecb();
}

Bytes OpenSslEncrypt(const Bytes& key, const Bytes& plain)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, OpenSslEcb(key.size()), nullptr, key.data(), nullptr));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(plain.size() + 16);
    int n = 0, tail = 0;
    EXPECT_EQ(1, EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), static_cast<int>(plain.size())));
    EXPECT_EQ(1, EVP_EncryptFinal_ex(ctx, out.data() + n, &tail));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n + tail);
    return out;
}

// Collects the sink calls: all bytes, and every call's count.
struct Collector {
    Bytes bytes;
    std::vector<unsigned> counts;
    void operator()(const unsigned char* data, unsigned count)
    {
        bytes.insert(bytes.end(), data, data + count);
        counts.push_back(count);
    }
    kw::CamelliaUtils::Sink Sink() { return [this](const unsigned char* data, unsigned n) { (*this)(data, n); }; }
};

Collector DecryptInPieces(const Bytes& key, const Bytes& cipher, std::size_t piece)
{
    kw::CamelliaUtils camellia(static_cast<int>(key.size()), key.data());
    Collector out;
    const kw::CamelliaUtils::Sink sink = out.Sink();
    for (std::size_t at = 0; at < cipher.size(); at += piece)
        camellia.Decrypt(sink, cipher.data() + at, std::min(piece, cipher.size() - at));
    return out;
}

TEST(CamelliaUtils, DecryptsRfc3713VectorsForEveryKeySize)
{
    const std::string plain = "0123456789abcdeffedcba9876543210";
    const struct {
        std::string key, cipher;
    } vectors[] = {
        {"0123456789abcdeffedcba9876543210", "67673138549669730857065648eabe43"},
        {"0123456789abcdeffedcba98765432100011223344556677", "b4993401b3e996f84ee5cee7d79b09b9"},
        {"0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff", "9acc237dff16d76c20ef7c919e3a7509"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        const Collector out = DecryptInPieces(FromHex(v.key), FromHex(v.cipher), 16);
        EXPECT_EQ(FromHex(plain), out.bytes);
    }
}

TEST(CamelliaUtils, MatchesOpenSslForAnyPieceSize)
{
    const Bytes plain = RandomBytes(64 * 1024 + 48, 1);
    for (std::size_t key_length : {16u, 24u, 32u}) {
        const Bytes key = RandomBytes(key_length, static_cast<unsigned>(key_length));
        const Bytes cipher = OpenSslEncrypt(key, plain);
        for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(16), std::size_t(4096), cipher.size()}) {
            SCOPED_TRACE(testing::Message() << "key " << key_length << " piece " << piece);
            const Collector out = DecryptInPieces(key, cipher, piece);
            ASSERT_EQ(plain, out.bytes);
            EXPECT_EQ(std::vector<unsigned>(plain.size() / 16, 16u), out.counts);
        }
    }
}

TEST(CamelliaUtils, KeepsAnIncompleteBlockPendingAcrossCallsAndCopies)
{
    const Bytes key = RandomBytes(32, 7);
    const Bytes plain = RandomBytes(32, 8);
    const Bytes cipher = OpenSslEncrypt(key, plain);

    kw::CamelliaUtils camellia(32, key.data());
    kw::CamelliaUtils copy(camellia);
    Collector out;
    camellia.Decrypt(out.Sink(), cipher.data(), 31); // one block and 15 bytes
    EXPECT_EQ(1u, out.counts.size());
    camellia.Decrypt(out.Sink(), cipher.data(), 0);
    EXPECT_EQ(1u, out.counts.size());
    // The copy shares the pending 15 bytes: its one byte completes the block.
    copy.Decrypt(out.Sink(), cipher.data() + 31, 1);
    EXPECT_EQ(plain, out.bytes);
}

TEST(CamelliaUtils, DecryptsEqualBlocksToEqualPlaintext)
{
    const Bytes key = RandomBytes(16, 9);
    Bytes plain = RandomBytes(16, 10);
    plain.insert(plain.end(), plain.begin(), plain.end());
    const Bytes cipher = OpenSslEncrypt(key, plain);
    ASSERT_TRUE(std::equal(cipher.begin(), cipher.begin() + 16, cipher.begin() + 16));
    EXPECT_EQ(plain, DecryptInPieces(key, cipher, cipher.size()).bytes);
}

TEST(CamelliaUtils, KeepsItsOwnCopyOfTheKey)
{
    Bytes key = RandomBytes(24, 11);
    const Bytes original = key;
    kw::CamelliaUtils camellia(24, key.data());
    key.assign(key.size(), 0);
    EXPECT_EQ(24, camellia.GetKeyLength());
    EXPECT_EQ(original, Bytes(camellia.GetKey().get(), camellia.GetKey().get() + 24));

    // The expanded key must not depend on the caller's buffer either.
    const Bytes plain = RandomBytes(16, 12);
    const Bytes cipher = OpenSslEncrypt(original, plain);
    Collector out;
    camellia.Decrypt(out.Sink(), cipher.data(), cipher.size());
    EXPECT_EQ(plain, out.bytes);
}

TEST(CamelliaUtils, RefusesUnsupportedKeyLengths)
{
    const Bytes key(64, 0x5A);
    for (int length : {-1, 0, 8, 15, 17, 20, 31, 33, 64}) {
        EXPECT_EQ("unsupported key length",
                  updatertest::FailureOf([&] { kw::CamelliaUtils camellia(length, key.data()); }).what)
            << length;
    }
}

TEST(CamelliaUtils, EmptySinkThrowsWhenABlockCompletes)
{
    const Bytes key(16, 1), data(16, 2);
    kw::CamelliaUtils camellia(16, key.data());
    EXPECT_NO_THROW(camellia.Decrypt(kw::CamelliaUtils::Sink(), data.data(), 15));
    EXPECT_THROW(camellia.Decrypt(kw::CamelliaUtils::Sink(), data.data(), 1), boost::bad_function_call);
}

} // namespace
