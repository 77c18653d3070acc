// The padded integer that the updater's RSA code unwraps: the payload at the
// bottom, its length in 32-bit word C = (h - 34) / 32, a marker at bit h - 2,
// zero elsewhere (h: index of the modulus' highest set bit).
#pragma once

#include <cstddef>
#include <vector>

namespace kwpack {

// The padded block for a modulus of `modulus_bits` bits, little-endian and
// as long as the modulus; a payload longer than 4*C bytes raises PackError.
std::vector<unsigned char> PadKeyBlock(const unsigned char* payload, std::size_t length, int modulus_bits);

} // namespace kwpack
