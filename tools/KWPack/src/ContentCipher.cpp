#include "ContentCipher.h"

#include "PackError.h"

#include <openssl/evp.h>

#include <climits>

namespace kwpack {

ContentCipher::ContentCipher(const unsigned char key[kContentKeySize]) : context_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free)
{
    if (!context_ || EVP_EncryptInit_ex(context_.get(), EVP_camellia_256_ecb(), nullptr, key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context_.get(), 0) != 1)
        throw PackError("cannot set up Camellia-256 encryption");
}

void ContentCipher::Encrypt(const unsigned char* in, std::size_t size, unsigned char* out)
{
    if (size % kCipherBlock) throw PackError("cipher input is not whole blocks");
    while (size) {
        int chunk = int(std::min<std::size_t>(size, INT_MAX & ~int(kCipherBlock - 1)));
        int written = 0;
        if (EVP_EncryptUpdate(context_.get(), out, &written, in, chunk) != 1 || written != chunk)
            throw PackError("Camellia-256 encryption failed");
        in += chunk;
        out += chunk;
        size -= std::size_t(chunk);
    }
}

} // namespace kwpack
