// Constants and small helpers of the package layout shared by the writer
// side: headers, version text, little-endian words.
#pragma once

#include <cstdint>
#include <string>

namespace kwpack {

constexpr char kPackageMagic[] = "pukw";
constexpr char kInnerMagic[] = "KWUP";
// The newest version an updater accepts, "0111".
constexpr std::uint32_t kNewestVersion = 0x00010101;
constexpr char kDefaultVersion[] = "0111";

// Checks a version text (four decimal digits, not newer than the updater
// accepts) and returns it; raises PackError otherwise.
std::string CheckedVersion(const std::string& text);

// The four version digits as the updater's number: digit i in byte 3-i.
std::uint32_t VersionNumber(const std::string& text);

// The 8-byte header "<magic><version>".
std::string MakeHeader(const char* magic, const std::string& version);

inline void PutLe32(unsigned char* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint32_t GetLe32(const unsigned char* in)
{
    return std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
}

} // namespace kwpack
