#include "BigNum.h"

#include <openssl/core_names.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace kwtest {

namespace {
void Check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(what);
}
} // namespace

Bn NewBn()
{
    Bn b(BN_new());
    Check(b != nullptr, "BN_new");
    return b;
}

Bn ToBn(const kw::MultiprecisionInteger& v)
{
    Bn b = NewBn();
    v.VisitBytes([&](const void* data, std::size_t size) {
        Check(BN_lebin2bn(static_cast<const unsigned char*>(data), int(size), b.get()) != nullptr, "BN_lebin2bn");
    });
    return b;
}

kw::MultiprecisionInteger FromBn(const BIGNUM* b)
{
    Bytes bytes(BN_num_bytes(b));
    Check(BN_bn2lebinpad(b, bytes.data(), int(bytes.size())) >= 0, "BN_bn2lebinpad");
    return kw::MultiprecisionInteger(bytes.data(), bytes.size());
}

Bn RandomBn(int bits)
{
    Bn b = NewBn();
    Check(BN_rand(b.get(), bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "BN_rand");
    return b;
}

std::string Hex(const BIGNUM* b)
{
    char* text = BN_bn2hex(b);
    std::string result(text ? text : "?");
    OPENSSL_free(text);
    return result;
}

Bytes RandomBytes(std::size_t count)
{
    Bytes bytes(count);
    if (count) Check(RAND_bytes(bytes.data(), int(count)) == 1, "RAND_bytes");
    return bytes;
}

const TestKey& KeyOfBits(int bits)
{
    // Key generation is slow: one key per size for the whole run.
    static std::map<int, TestKey> keys;
    auto found = keys.find(bits);
    if (found != keys.end()) return found->second;
    TestKey key;
    key.pkey.reset(EVP_RSA_gen(unsigned(bits)));
    Check(key.pkey != nullptr, "EVP_RSA_gen");
    BIGNUM* n = nullptr;
    Check(EVP_PKEY_get_bn_param(key.pkey.get(), OSSL_PKEY_PARAM_RSA_N, &n) == 1, "get n");
    key.n.reset(n);
    key.modulus.resize(BN_num_bytes(n));
    BN_bn2lebinpad(n, key.modulus.data(), int(key.modulus.size()));
    return keys.emplace(bits, std::move(key)).first->second;
}

Bytes PadBlock(const TestKey& key, const Bytes& payload, bool marker)
{
    const unsigned h = unsigned(BN_num_bits(key.n.get())) - 1;
    const unsigned c = (h - 34) / 32;
    Bytes block(key.modulus.size(), 0);
    std::copy(payload.begin(), payload.end(), block.begin());
    const std::uint32_t length = std::uint32_t(payload.size());
    for (unsigned i = 0; i < 4; ++i) block[4 * c + i] = std::uint8_t(length >> (8 * i));
    if (marker) block[(h - 2) / 8] |= std::uint8_t(1u << ((h - 2) % 8));
    return block;
}

Bytes PrivateRaw(const TestKey& key, const Bytes& block)
{
    Bytes in(block.rbegin(), block.rend()); // OpenSSL takes big-endian
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new(key.pkey.get(), nullptr),
                                                              EVP_PKEY_CTX_free);
    Check(ctx && EVP_PKEY_decrypt_init(ctx.get()) == 1, "decrypt init");
    Check(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1, "no padding");
    Bytes out(in.size());
    std::size_t out_length = out.size();
    Check(EVP_PKEY_decrypt(ctx.get(), out.data(), &out_length, in.data(), in.size()) == 1, "private operation");
    out.resize(out_length);
    return Bytes(out.rbegin(), out.rend());
}

} // namespace kwtest
