#include "RsaPadding.h"

#include "PackError.h"

#include <kw/archive/ArchiveFormat.h>

#include <algorithm>

namespace kwpack {

std::vector<unsigned char> PadKeyBlock(const unsigned char* payload, std::size_t length, int modulus_bits)
{
    const unsigned h = unsigned(modulus_bits) - 1;
    if (modulus_bits < 64) throw PackError("modulus too small for the key block");
    const unsigned word = (h - 34) / 32;
    if (length > 4 * std::size_t(word)) throw PackError("content key does not fit into the key block");
    std::vector<unsigned char> block((std::size_t(modulus_bits) + 7) / 8, 0);
    std::copy(payload, payload + length, block.begin());
    kw::archive::format::StoreLe32(&block[4 * word], std::uint32_t(length));
    const unsigned marker = h - 2;
    block[marker / 8] |= static_cast<unsigned char>(1u << (marker % 8));
    return block;
}

} // namespace kwpack
