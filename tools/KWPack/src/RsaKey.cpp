#include "RsaKey.h"

#include "PackError.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>

namespace kwpack {
namespace {

// The newest OpenSSL error text, for messages that explain a refusal.
std::string OpenSslText()
{
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (!code) return "unknown OpenSSL failure";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

[[noreturn]] void Fail(const std::string& what)
{
    throw PackError(what + ": " + OpenSslText());
}

using ContextPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

} // namespace

RsaPrivateKey::RsaPrivateKey(EVP_PKEY* key) : key_(key, EVP_PKEY_free) {}

RsaPrivateKey RsaPrivateKey::Generate(int bits)
{
    if (bits < kMinKeyBits || bits > kMaxKeyBits)
        throw PackError("key size " + std::to_string(bits) + " is outside " + std::to_string(kMinKeyBits) + ".." +
                        std::to_string(kMaxKeyBits) + " bits");
    ContextPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr), EVP_PKEY_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> exponent(BN_new(), BN_free);
    EVP_PKEY* key = nullptr;
    if (!ctx || !exponent || !BN_set_word(exponent.get(), kPublicExponent) || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent.get()) <= 0 || EVP_PKEY_keygen(ctx.get(), &key) <= 0)
        Fail("cannot generate an RSA key");
    return RsaPrivateKey(key);
}

RsaPrivateKey RsaPrivateKey::Load(kw::updater::Env& env, const kw::updater::Path& pem)
{
    std::string data;
    try {
        data = kw::updater::ReadWholeFile(env, pem);
    } catch (const std::exception&) {
        throw PackError("cannot open private key " + pem.string());
    }
    BioPtr bio(BIO_new_mem_buf(data.data(), int(data.size())), BIO_free);
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!key) Fail("cannot read private key " + pem.string());
    RsaPrivateKey result(key);
    if (EVP_PKEY_base_id(key) != EVP_PKEY_RSA) throw PackError(pem.string() + " is not an RSA private key");
    BIGNUM* raw = nullptr;
    if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &raw)) Fail("cannot read the key's exponent");
    const std::unique_ptr<BIGNUM, decltype(&BN_free)> e(raw, BN_free);
    // The updater's public exponent is fixed: any other key cannot work.
    if (!BN_is_word(e.get(), kPublicExponent)) throw PackError(pem.string() + " does not use the public exponent 65537");
    if (result.bits() < kMinKeyBits || result.bits() > kMaxKeyBits)
        throw PackError(pem.string() + " has " + std::to_string(result.bits()) + " bits; 1024..4096 are accepted");
    return result;
}

std::string RsaPrivateKey::ToPem() const
{
    BioPtr bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || !PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr))
        Fail("cannot encode the private key");
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, std::size_t(size));
}

int RsaPrivateKey::bits() const
{
    return EVP_PKEY_get_bits(key_.get());
}

std::size_t RsaPrivateKey::size() const
{
    return std::size_t(EVP_PKEY_get_size(key_.get()));
}

std::vector<unsigned char> RsaPrivateKey::ModulusLittleEndian() const
{
    BIGNUM* n = nullptr;
    if (!EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_RSA_N, &n)) Fail("cannot read the modulus");
    std::vector<unsigned char> bytes(size());
    int written = BN_bn2lebinpad(n, bytes.data(), int(bytes.size()));
    BN_free(n);
    if (written != int(bytes.size())) Fail("cannot encode the modulus");
    return bytes;
}

std::vector<unsigned char> RsaPrivateKey::PrivateOperation(const std::vector<unsigned char>& block) const
{
    if (block.size() != size()) throw PackError("key block has the wrong length");
    // OpenSSL works big-endian; the package stores little-endian.
    std::vector<unsigned char> in(block.rbegin(), block.rend());
    std::vector<unsigned char> out(size());
    std::size_t out_size = out.size();
    ContextPtr ctx(EVP_PKEY_CTX_new(key_.get(), nullptr), EVP_PKEY_CTX_free);
    // Decryption without padding is the bare private-key operation c^d mod n.
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0 ||
        EVP_PKEY_decrypt(ctx.get(), out.data(), &out_size, in.data(), in.size()) <= 0)
        Fail("the private-key operation failed");
    // A short result is a number with leading zero bytes.
    std::vector<unsigned char> result(size(), 0);
    std::reverse_copy(out.begin(), out.begin() + long(out_size), result.begin());
    return result;
}

} // namespace kwpack
