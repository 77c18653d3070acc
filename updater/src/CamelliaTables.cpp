// The four F-function tables, computed at compile time from SBOX1; the other
// S-boxes are rotations of it (SBOX2 = SBOX1 <<< 1, SBOX3 = SBOX1 <<< 7,
// SBOX4(x) = SBOX1(x <<< 1)).
#include "CamelliaTables.h"

#include <array>

namespace kw {
namespace camellia {
namespace {

constexpr std::uint8_t kSbox1[256] = {
    112, 130, 44,  236, 179, 39,  192, 229, 228, 133, 87,  53,  234, 12,  174, 65,
    35,  239, 107, 147, 69,  25,  165, 33,  237, 14,  79,  78,  29,  101, 146, 189,
    134, 184, 175, 143, 124, 235, 31,  206, 62,  48,  220, 95,  94,  197, 11,  26,
    166, 225, 57,  202, 213, 71,  93,  61,  217, 1,   90,  214, 81,  86,  108, 77,
    139, 13,  154, 102, 251, 204, 176, 45,  116, 18,  43,  32,  240, 177, 132, 153,
    223, 76,  203, 194, 52,  126, 118, 5,   109, 183, 169, 49,  209, 23,  4,   215,
    20,  88,  58,  97,  222, 27,  17,  28,  50,  15,  156, 22,  83,  24,  242, 34,
    254, 68,  207, 178, 195, 181, 122, 145, 36,  8,   232, 168, 96,  252, 105, 80,
    170, 208, 160, 125, 161, 137, 98,  151, 84,  91,  30,  149, 224, 255, 100, 210,
    16,  196, 0,   72,  163, 247, 117, 219, 138, 3,   230, 218, 9,   63,  221, 148,
    135, 92,  131, 2,   205, 74,  144, 51,  115, 103, 246, 243, 157, 127, 191, 226,
    82,  155, 216, 38,  200, 55,  198, 59,  129, 150, 111, 75,  19,  190, 99,  46,
    233, 121, 167, 140, 159, 110, 188, 142, 41,  245, 249, 182, 47,  253, 180, 89,
    120, 152, 6,   106, 231, 70,  113, 186, 212, 37,  171, 66,  136, 162, 141, 250,
    114, 7,   185, 85,  248, 238, 172, 10,  54,  73,  42,  104, 60,  56,  241, 164,
    64,  40,  211, 123, 187, 201, 67,  193, 21,  227, 173, 244, 119, 199, 128, 158,
};

constexpr std::uint32_t Rotl8(std::uint32_t x, int n) { return ((x << n) | (x >> (8 - n))) & 0xFF; }
constexpr std::uint32_t S1(int x) { return kSbox1[x]; }
constexpr std::uint32_t S2(int x) { return Rotl8(kSbox1[x], 1); }
constexpr std::uint32_t S3(int x) { return Rotl8(kSbox1[x], 7); }
constexpr std::uint32_t S4(int x) { return kSbox1[Rotl8(static_cast<std::uint32_t>(x), 1)]; }

// Places s into the bytes of a big-endian word that the flags select.
constexpr std::uint32_t Spread(std::uint32_t s, bool b1, bool b2, bool b3, bool b4)
{
    return (b1 ? s << 24 : 0) | (b2 ? s << 16 : 0) | (b3 ? s << 8 : 0) | (b4 ? s : 0);
}

constexpr SpTables MakeTables()
{
    SpTables t{};
    for (int x = 0; x < 256; ++x) {
        t.sp1110[x] = Spread(S1(x), true, true, true, false);
        t.sp0222[x] = Spread(S2(x), false, true, true, true);
        t.sp3033[x] = Spread(S3(x), true, false, true, true);
        t.sp4404[x] = Spread(S4(x), true, true, false, true);
    }
    return t;
}

} // namespace

// Constant-initialised: no start-up code, no order-of-initialisation issue.
extern constexpr SpTables kSpTables = MakeTables();

} // namespace camellia
} // namespace kw
