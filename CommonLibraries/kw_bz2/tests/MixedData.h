// Test and benchmark input with mixed compressibility: segments of random
// bytes, word text, single-byte runs and a small alphabet, so that libbz2
// meets every kind of block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>

namespace kw_bz2_test {

// Appends `size` bytes; `randomShare` is the probability of a random segment.
inline void AppendMixedData(std::string& out, std::size_t size, std::mt19937& rng, double randomShare = 0.5)
{
    static const char* const words[] = {"update", "package", "stage",  "backup", "archive", "block",
                                        "stream", "version", "digest", "file",   "directory", "\n"};
    std::uniform_int_distribution<std::size_t> segmentSize(1, 96 * 1024);
    std::uniform_real_distribution<double> kindPick(0.0, 1.0);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::size_t end = out.size() + size;
    out.reserve(end);
    while (out.size() < end) {
        const std::size_t n = std::min(segmentSize(rng), end - out.size());
        const double kind = kindPick(rng);
        const std::size_t segmentEnd = out.size() + n;
        if (kind < randomShare) {
            while (out.size() < segmentEnd) out.push_back(static_cast<char>(byte(rng)));
        } else if (kind < randomShare + (1 - randomShare) / 3) {
            while (out.size() < segmentEnd) {
                out += words[rng() % (sizeof words / sizeof *words)];
                out.push_back(' ');
            }
            out.resize(segmentEnd);
        } else if (kind < randomShare + 2 * (1 - randomShare) / 3) {
            out.append(n, static_cast<char>(byte(rng)));
        } else {
            while (out.size() < segmentEnd) out.push_back(static_cast<char>('a' + rng() % 4));
        }
    }
}

} // namespace kw_bz2_test
