// The combined S-box and P-function tables of the Camellia F-function: each
// entry spreads one substituted byte over the output bytes that it reaches.
#pragma once

#include <array>
#include <cstdint>

namespace kw {
namespace camellia {

struct SpTables {
    std::array<std::uint32_t, 256> sp1110; // SBOX1 into bytes 1, 2, 3
    std::array<std::uint32_t, 256> sp0222; // SBOX2 into bytes 2, 3, 4
    std::array<std::uint32_t, 256> sp3033; // SBOX3 into bytes 1, 3, 4
    std::array<std::uint32_t, 256> sp4404; // SBOX4 into bytes 1, 2, 4
};

extern const SpTables kSpTables;

} // namespace camellia
} // namespace kw
