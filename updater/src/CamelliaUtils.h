// Camellia (RFC 3713) decryption of a byte stream that arrives in pieces of
// any size, in electronic-codebook mode: every 16-byte block is decrypted by
// itself with the same key. No chaining, no padding removal; a final part
// shorter than a block stays pending and is never delivered.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>

namespace kw {

class CamelliaUtilsImpl;

class CamelliaUtils {
public:
    // Receives each decrypted block (16 bytes); the buffer lives for the call.
    typedef boost::function<void(const unsigned char*, unsigned)> Sink;

    // Copies and expands a key of 16, 24 or 32 bytes; other lengths raise
    // KWUpdaterCommonError.
    CamelliaUtils(int key_length, const void* key);

    int GetKeyLength() const;
    boost::shared_array<unsigned char> GetKey() const;

    // Adds bytes to the stream; each block completed by them goes to `sink`,
    // in order, before the call returns. An empty sink throws
    // boost::bad_function_call when a block completes.
    void Decrypt(const Sink& sink, const void* data, std::size_t length);

    // Decrypts `blocks` whole blocks from `in` to `out`, apart from the
    // stream; several threads may call it at once.
    void DecryptBlocks(const unsigned char* in, unsigned char* out, std::size_t blocks) const;

private:
    // Copies share the implementation, and so the pending bytes.
    boost::shared_ptr<CamelliaUtilsImpl> impl_;
};

} // namespace kw
