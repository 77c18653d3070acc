// The SHA-256 context: pending bytes, the message length, the running hash
// value; finishing pads per FIPS 180-4.
#include "Sha256Utils.h"

#include "HeldFile.h"
#include "KWUpdaterError.h"
#include "Sha256Compress.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sha256utils {

class Sha256UtilsImpl {
public:
    void Update(const unsigned char* data, std::size_t size);
    // Pads, compresses the final block(s) and writes the 32-byte digest.
    void Finish(unsigned char* digest);

private:
    unsigned char pending_[64];
    std::size_t pending_size_ = 0; // fewer than 64 between calls
    std::uint64_t length_ = 0; // bytes so far, modulo 2^64 as the padding holds it
    std::uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

void Sha256UtilsImpl::Update(const unsigned char* data, std::size_t size)
{
    length_ += size;
    if (pending_size_ > 0) {
        const std::size_t take = std::min(64 - pending_size_, size);
        std::memcpy(pending_ + pending_size_, data, take);
        pending_size_ += take;
        data += take;
        size -= take;
        if (pending_size_ < 64)
            return;
        detail::compress(state_, pending_, 1);
        pending_size_ = 0;
    }
    // Whole blocks are compressed straight from the caller's bytes.
    const std::size_t blocks = size / 64;
    if (blocks > 0)
        detail::compress(state_, data, blocks);
    pending_size_ = size % 64;
    std::memcpy(pending_, data + blocks * 64, pending_size_);
}

void Sha256UtilsImpl::Finish(unsigned char* digest)
{
    unsigned char block[64] = {};
    std::memcpy(block, pending_, pending_size_);
    block[pending_size_] = 0x80;
    if (pending_size_ >= 56) {
        detail::compress(state_, block, 1);
        std::memset(block, 0, sizeof block);
    }
    const std::uint64_t bits = length_ * 8;
    for (int i = 0; i < 8; ++i)
        block[56 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    detail::compress(state_, block, 1);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (24 - 8 * j));
}

boost::shared_ptr<Sha256UtilsImpl> create_context() { return boost::make_shared<Sha256UtilsImpl>(); }

void update_context(const void* first, const void* last, const boost::shared_ptr<Sha256UtilsImpl>& context)
{
    const unsigned char* begin = static_cast<const unsigned char*>(first);
    context->Update(begin, static_cast<const unsigned char*>(last) - begin);
}

boost::shared_array<unsigned char> get_digest(const boost::shared_ptr<Sha256UtilsImpl>& context)
{
    boost::shared_array<unsigned char> digest(new unsigned char[32]);
    context->Finish(digest.get());
    return digest;
}

std::string digest_to_text(const unsigned char* digest)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text(64, '0');
    for (int i = 0; i < 32; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    return text;
}

void hash_from_stream(std::istream& input, std::string& output)
{
    // Larger reads than a block keep stream overhead small; the context
    // itself never holds more than 63 bytes.
    char buffer[65536];
    Sha256UtilsImpl context;
    while (input) {
        input.read(buffer, sizeof buffer);
        const std::streamsize got = input.gcount();
        if (got <= 0)
            break;
        context.Update(reinterpret_cast<const unsigned char*>(buffer), static_cast<std::size_t>(got));
    }
    unsigned char digest[32];
    context.Finish(digest);
    output = digest_to_text(digest);
}

std::string hash_from_file(kw::updater::Env& env, const kw::updater::Path& path)
{
    // A directory is refused by the open, as on Windows; a file that another
    // process holds is tried again for a while.
    std::unique_ptr<kw::updater::SequentialFile> file;
    boost::system::error_code error;
    kw::updater::RetryWhileHeld(env, path, kw::updater::Env::Use::kRead, [&] {
        file = env.OpenForReading(path, error);
        return file != nullptr;
    });
    if (!file) {
        if (env.IsHeldOpen(path, kw::updater::Env::Use::kRead))
            KW_FAIL(kw::updater::HeldText("cannot open file", path).c_str(), "sha256utils::hash_from_file");
        KW_FAIL("cannot open file", "sha256utils::hash_from_file");
    }
    kw::updater::FileInputStream input(std::move(file));
    std::string text;
    hash_from_stream(input, text);
    return text;
}

} // namespace sha256utils
