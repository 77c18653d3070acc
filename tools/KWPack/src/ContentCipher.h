// Camellia-256 in electronic-codebook mode (OpenSSL) for the package body:
// every 16-byte block by itself under the content key, no padding of its own.
#pragma once

#include <cstddef>
#include <memory>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace kwpack {

constexpr std::size_t kCipherBlock = 16;
constexpr std::size_t kContentKeySize = 32;

class ContentCipher {
public:
    explicit ContentCipher(const unsigned char key[kContentKeySize]);
    // Encrypts `size` bytes, a multiple of 16, from `in` to `out`.
    void Encrypt(const unsigned char* in, std::size_t size, unsigned char* out);

private:
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> context_;
};

} // namespace kwpack
