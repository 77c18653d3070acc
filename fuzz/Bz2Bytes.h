// What the bzip2 fuzzers and the seed maker share: streams made with the
// library's compressor, and decompressed output kept as length and hash.
#pragma once

#include <kw/bz2/KWCompress.h>

#include <cstdint>
#include <string>

namespace kwfuzz {

// A bzip2 stream may expand thousands of times; past this the output is not
// followed further (the library has no limit of its own to test here).
const std::uint64_t kOutputCap = 32u << 20;

// `bytes` as one finished bzip2 stream with blocks of block_size_100k * 100 kB.
inline std::string Compress(const std::string& bytes, int block_size_100k)
{
    std::string out;
    kw::bz2::KWCompress(65536, block_size_100k, 0, 0)
        .Compress(bytes.data(), static_cast<unsigned>(bytes.size()), true,
                  [&](const void* data, unsigned size) { out.append(static_cast<const char*>(data), size); });
    return out;
}

// Decompressed output as its length and FNV-1a hash, so that two runs compare without keeping it.
struct OutputDigest {
    std::uint64_t length = 0;
    std::uint64_t hash = 1469598103934665603ull;

    void Add(const void* bytes, unsigned count)
    {
        const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
        for (unsigned i = 0; i < count; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
        length += count;
    }
    bool operator!=(const OutputDigest& o) const { return length != o.length || hash != o.hash; }
};

} // namespace kwfuzz
