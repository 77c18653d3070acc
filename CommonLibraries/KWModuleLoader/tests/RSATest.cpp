#include <kw/RSA.h>

#include "BigNum.h"
#include "../../common/tests/ExpectError.h"

#include <gtest/gtest.h>

using kw::MultiprecisionInteger;
using namespace kwtest;

namespace {
// Runs Encrypt and records every call of the output function.
struct Decoded {
    int calls = 0;
    Bytes payload;
};

Decoded Decode(const kw::RSA& rsa, const Bytes& block)
{
    Decoded decoded;
    rsa.Encrypt(block.data(), block.size(), [&](const void* data, unsigned length) {
        ++decoded.calls;
        decoded.payload.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + length);
    });
    return decoded;
}

unsigned LengthWordIndex(const TestKey& key) { return (unsigned(BN_num_bits(key.n.get())) - 1 - 34) / 32; }

// Expects "illegal cypher text" located in DecryptionAntiPadding, with no output.
void ExpectIllegal(const kw::RSA& rsa, const Bytes& block)
{
    int calls = 0;
    const std::string message = ExpectError<kw::ModuleLoaderCommonError>(
        [&] { rsa.Encrypt(block.data(), block.size(), [&](const void*, unsigned) { ++calls; }); },
        "illegal cypher text");
    EXPECT_EQ(0u, message.find("At RSA.cpp(")) << message;
    EXPECT_NE(std::string::npos, message.find(") in kw::RSA::DecryptionAntiPadding()\n")) << message;
    EXPECT_EQ(0, calls);
}

class RSAWithKey : public ::testing::TestWithParam<int> {};
} // namespace

TEST_P(RSAWithKey, PaddedBlocksThroughThePrivateKeyDecodeToThePayload)
{
    const TestKey& key = KeyOfBits(GetParam());
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    EXPECT_EQ(unsigned(GetParam()), rsa.GetBits());
    const unsigned c = LengthWordIndex(key);

    // An empty payload, with or without the marker, still calls the output once.
    for (std::size_t length : {std::size_t(32), std::size_t(1), std::size_t(4 * c), std::size_t(0)}) {
        const Bytes payload = RandomBytes(length);
        for (bool marker : {true, false}) {
            SCOPED_TRACE(testing::Message() << "length " << length << " marker " << marker);
            const Decoded decoded = Decode(rsa, PrivateRaw(key, PadBlock(key, payload, marker)));
            EXPECT_EQ(1, decoded.calls);
            EXPECT_EQ(payload, decoded.payload);
        }
    }
}

TEST_P(RSAWithKey, DamagedPaddingIsIllegal)
{
    const TestKey& key = KeyOfBits(GetParam());
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    const unsigned c = LengthWordIndex(key);
    const Bytes payload = RandomBytes(32);

    // a non-zero byte just above the payload, just below and above the length word
    for (std::size_t at : {std::size_t(32), std::size_t(4 * c - 1), std::size_t(4 * c + 4), key.modulus.size() - 1}) {
        SCOPED_TRACE(at);
        Bytes padded = PadBlock(key, payload);
        padded[at] |= 0x10;
        if (at == key.modulus.size() - 1) padded[at] = 0x01; // stay below n
        ExpectIllegal(rsa, PrivateRaw(key, padded));
    }

    Bytes too_long = PadBlock(key, Bytes());
    const std::uint32_t length = 4 * c + 1;
    for (unsigned i = 0; i < 4; ++i) too_long[4 * c + i] = std::uint8_t(length >> (8 * i));
    ExpectIllegal(rsa, PrivateRaw(key, too_long));
}

INSTANTIATE_TEST_SUITE_P(Keys, RSAWithKey, ::testing::Values(1024, 2048));

TEST(RSA, BlocksAtOrAboveTheModulusAreReducedFirst)
{
    const TestKey& key = KeyOfBits(1024);
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    const Bytes payload = RandomBytes(20);
    const Bytes block = PrivateRaw(key, PadBlock(key, payload));
    Bn x = NewBn();
    BN_lebin2bn(block.data(), int(block.size()), x.get());
    BN_add(x.get(), x.get(), key.n.get());
    BN_add(x.get(), x.get(), key.n.get());
    Bytes longer(block.size() + 5);
    BN_bn2lebinpad(x.get(), longer.data(), int(longer.size()));
    const Decoded decoded = Decode(rsa, longer);
    EXPECT_EQ(1, decoded.calls);
    EXPECT_EQ(payload, decoded.payload);
}

TEST(RSA, EncryptLocatesAndConvertsWhatEscapes)
{
    const TestKey& key = KeyOfBits(1024);
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    const Bytes block = PrivateRaw(key, PadBlock(key, RandomBytes(8)));

    const std::string message = ExpectError<kw::ModuleLoaderCommonError>(
        [&] { rsa.Encrypt(block.data(), block.size(), [](const void*, unsigned) { throw std::runtime_error("boom"); }); },
        "boom");
    EXPECT_EQ(0u, message.find("At RSA.cpp(")) << message;
    EXPECT_NE(std::string::npos, message.find(") in kw::RSA::Encrypt()\nboom")) << message;
    EXPECT_THROW(rsa.Encrypt(block.data(), block.size(), [](const void*, unsigned) { throw std::bad_alloc(); }),
                 kw::ModuleLoaderBadAllocation);

    // An own error from the output function passes unchanged, located where
    // the output was called: the innermost boundary, DecryptionAntiPadding.
    const std::string own = ExpectError<kw::ModuleRangeError>(
        [&] { rsa.Encrypt(block.data(), block.size(), [](const void*, unsigned) { throw kw::ModuleRangeError("own"); }); },
        "own");
    EXPECT_NE(std::string::npos, own.find(") in kw::RSA::DecryptionAntiPadding()\nown")) << own;
}

TEST(RSA, AntiPaddingLocatesStorageFailures)
{
    const TestKey& key = KeyOfBits(1024);
    const kw::RSA rsa(key.modulus.data(), key.modulus.size());
    const kw::RSA::Output ignore = [](const void*, unsigned) { ADD_FAILURE() << "output called"; };

    MultiprecisionInteger none;
    const std::string no_buffer = ExpectError<kw::ModuleLoaderCommonError>(
        [&] { rsa.DecryptionAntiPadding(none, ignore); }, "no buffer");
    EXPECT_NE(std::string::npos, no_buffer.find(") in kw::RSA::DecryptionAntiPadding()\nno buffer"));

    // a value shorter than the modulus: its length word lies beyond its storage
    MultiprecisionInteger short_value = MultiprecisionInteger::WithUnits(2);
    const std::string out_of_range = ExpectError<kw::ModuleOutOfRange>(
        [&] { rsa.DecryptionAntiPadding(short_value, ignore); }, "out of range");
    EXPECT_EQ(0u, out_of_range.find("At RSA.cpp("));

    const std::string zero = ExpectError<kw::ModuleOverflowError>(
        [&] { kw::RSA(MultiprecisionInteger::WithUnits(1)); }, "divided by zero");
    EXPECT_EQ(0u, zero.find("At Montgomery.cpp("));
}
