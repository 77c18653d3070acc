// The update package's layout, shared by the updater's reader and KWPack's
// writer: the outer header "pukw" and four version digits, the RSA key block,
// the plaintext length (32-bit little-endian) and the Camellia ciphertext of
// a bzip2 stream whose content starts with the inner header "KWUP" and the
// same four digits, followed by the archive records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kw {
namespace updater {

constexpr char kPackageMagic[] = "pukw";
constexpr char kInnerMagic[] = "KWUP";
constexpr std::size_t kHeaderSize = 8;
// The newest version this updater accepts, and its text.
constexpr std::uint32_t kNewestPackageVersion = 0x00010101;
constexpr char kNewestVersionText[] = "0111";

// The version number of four ASCII digits, digit i in byte 3-i; false when
// one of them is not a decimal digit.
inline bool ParseVersion(const char digits[4], std::uint32_t& number)
{
    number = 0;
    for (int i = 0; i < 4; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return false;
        number |= static_cast<std::uint32_t>(digits[i] - '0') << (24 - 8 * i);
    }
    return true;
}

// A header: the magic and the four version digits.
inline std::string MakeHeader(const char* magic, const std::string& digits)
{
    return std::string(magic, 4) + digits;
}

} // namespace updater
} // namespace kw
