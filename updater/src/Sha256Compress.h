// The SHA-256 compression function: the processor's SHA extensions where it
// reports them, the portable code otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sha256utils {
namespace detail {

extern const std::uint32_t kRoundConstants[64];

// Compresses `count` consecutive 64-byte blocks into `state` (H0..H7).
void compress(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

void compress_portable(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

// True where the processor has the SHA extensions (and this build has code for them).
bool sha_extensions_available();
void compress_sha_extensions(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

// Lets tests run every context on the portable code (true) or return to the
// automatic choice (false).
void force_portable(bool portable);

} // namespace detail
} // namespace sha256utils
