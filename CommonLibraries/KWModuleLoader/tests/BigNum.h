// OpenSSL helpers for cross-checking the big integers and RSA.
#pragma once

#include <kw/MultiprecisionInteger.h>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kwtest {

typedef std::vector<std::uint8_t> Bytes;

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
typedef std::unique_ptr<BIGNUM, BnFree> Bn;

struct CtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
typedef std::unique_ptr<BN_CTX, CtxFree> BnCtx;

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
typedef std::unique_ptr<EVP_PKEY, PkeyFree> Pkey;

Bn NewBn();
Bn ToBn(const kw::MultiprecisionInteger& v);
kw::MultiprecisionInteger FromBn(const BIGNUM* b);
// A random number below 2^bits (leading zero bits possible).
Bn RandomBn(int bits);
std::string Hex(const BIGNUM* b);
Bytes RandomBytes(std::size_t count);

// An OpenSSL RSA key pair (e = 65537) and its modulus as a key file holds it.
struct TestKey {
    Pkey pkey;
    Bn n;
    Bytes modulus; // little-endian, modulus bytes long
};
const TestKey& KeyOfBits(int bits);

// The padded block for n's highest bit h, little-endian, modulus bytes long.
Bytes PadBlock(const TestKey& key, const Bytes& payload, bool marker = true);
// OpenSSL's raw private-key operation on a little-endian block.
Bytes PrivateRaw(const TestKey& key, const Bytes& block);

} // namespace kwtest
