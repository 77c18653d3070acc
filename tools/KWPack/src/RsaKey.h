// The producer's RSA key pair (OpenSSL libcrypto): generation, PEM storage,
// the installation's key file form of the modulus, and the raw private-key
// operation that wraps the content key.
#pragma once

#include "Env.h"

#include <memory>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace kwpack {

constexpr unsigned kPublicExponent = 65537;
constexpr int kMinKeyBits = 1024;
constexpr int kMaxKeyBits = 4096;
constexpr int kDefaultKeyBits = 2048;

class RsaPrivateKey {
public:
    // A new key pair with exponent 65537; bits outside 1024..4096 are refused.
    static RsaPrivateKey Generate(int bits);
    // Reads a PEM private key; a missing or unusable file raises PackError.
    static RsaPrivateKey Load(kw::updater::Env& env, const kw::updater::Path& pem);

    // The private key as PEM (unencrypted PKCS#8) text.
    std::string ToPem() const;

    int bits() const;
    // Byte length of the modulus: the key file's length and the key block's.
    std::size_t size() const;
    // The modulus, least significant byte first, exactly size() bytes: the
    // content of the installation's key file.
    std::vector<unsigned char> ModulusLittleEndian() const;
    // m^d mod n for a little-endian block of size() bytes whose value is
    // below n; the result is little-endian, size() bytes.
    std::vector<unsigned char> PrivateOperation(const std::vector<unsigned char>& block) const;

private:
    explicit RsaPrivateKey(EVP_PKEY* key);
    std::shared_ptr<EVP_PKEY> key_;
};

} // namespace kwpack
