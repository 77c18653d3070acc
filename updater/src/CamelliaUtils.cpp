// Camellia decryption per RFC 3713, table-driven: the F-function takes its
// 64-bit half through four 256-entry tables (eight look-ups per round).
#include "CamelliaUtils.h"

#include "CamelliaTables.h"
#include "KWUpdaterError.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kw {
namespace {

using camellia::kSpTables;

const std::uint64_t kSigma[6] = {
    0xA09E667F3BCC908BULL, 0xB67AE8584CAA73B2ULL, 0xC6EF372FE94F82BEULL,
    0x54FF53A5F1D36F1CULL, 0x10E527FADE682D1DULL, 0xB05688C2B3E6C1FDULL,
};

inline std::uint32_t Rotl32(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline std::uint32_t Rotr32(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t LoadBigEndian32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBigEndian32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline std::uint64_t LoadBigEndian64(const unsigned char* p)
{
    return (std::uint64_t(LoadBigEndian32(p)) << 32) | LoadBigEndian32(p + 4);
}

// One Feistel round on 32-bit words: (r0, r1) ^= F((l0, l1), (k0, k1)).
// The right input word reaches both output words alike; the left one
// reaches the right output word once more, rotated by a byte.
inline void Round(std::uint32_t l0, std::uint32_t l1, std::uint32_t& r0, std::uint32_t& r1, const std::uint32_t* k)
{
    const std::uint32_t il = l0 ^ k[0];
    const std::uint32_t ir = l1 ^ k[1];
    const std::uint32_t u = kSpTables.sp1110[ir & 0xFF] ^ kSpTables.sp0222[ir >> 24] ^
                            kSpTables.sp3033[(ir >> 16) & 0xFF] ^ kSpTables.sp4404[(ir >> 8) & 0xFF];
    const std::uint32_t v = kSpTables.sp1110[il >> 24] ^ kSpTables.sp0222[(il >> 16) & 0xFF] ^
                            kSpTables.sp3033[(il >> 8) & 0xFF] ^ kSpTables.sp4404[il & 0xFF];
    const std::uint32_t w = u ^ v;
    r0 ^= w;
    r1 ^= w ^ Rotr32(v, 8);
}

// The F-function on a 64-bit half, for the key schedule.
inline std::uint64_t F(std::uint64_t in, std::uint64_t key)
{
    const std::uint32_t k[2] = {static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key)};
    std::uint32_t hi = 0, lo = 0;
    Round(static_cast<std::uint32_t>(in >> 32), static_cast<std::uint32_t>(in), hi, lo, k);
    return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

// FL and its inverse on a 64-bit half held as two words.
inline void FL(std::uint32_t& x1, std::uint32_t& x2, const std::uint32_t* k)
{
    x2 ^= Rotl32(x1 & k[0], 1);
    x1 ^= x2 | k[1];
}

inline void FLInverse(std::uint32_t& y1, std::uint32_t& y2, const std::uint32_t* k)
{
    y1 ^= y2 | k[1];
    y2 ^= Rotl32(y1 & k[0], 1);
}

// A 128-bit key quantity as two 64-bit halves.
struct Quad {
    std::uint64_t hi, lo;
};

Quad RotateLeft(Quad q, int n)
{
    if (n >= 64) {
        std::swap(q.hi, q.lo);
        n -= 64;
    }
    if (n == 0)
        return q;
    return Quad{(q.hi << n) | (q.lo >> (64 - n)), (q.lo << n) | (q.hi >> (64 - n))};
}

// The two-round mixing step that derives KA and KB.
Quad Mix(Quad d, const std::uint64_t* sigma)
{
    d.lo ^= F(d.hi, sigma[0]);
    d.hi ^= F(d.lo, sigma[1]);
    return d;
}

// One subkey source of the RFC's schedule tables: KL, KR, KA or KB rotated.
struct SubkeyRule {
    int source; // 0 KL, 1 KR, 2 KA, 3 KB
    int rotation;
    int half; // 0 left 64 bits, 1 right 64 bits
};

// Subkeys in encryption order: kw1 kw2, k1..k6, ke1 ke2, k7..k12, ke3 ke4,
// k13..k18, [ke5 ke6, k19..k24,] kw3 kw4.
const SubkeyRule kRules128[26] = {
    {0, 0, 0},   {0, 0, 1},                                                            // kw1 kw2
    {2, 0, 0},   {2, 0, 1},   {0, 15, 0},  {0, 15, 1},  {2, 15, 0},  {2, 15, 1},      // k1..k6
    {2, 30, 0},  {2, 30, 1},                                                           // ke1 ke2
    {0, 45, 0},  {0, 45, 1},  {2, 45, 0},  {0, 60, 1},  {2, 60, 0},  {2, 60, 1},      // k7..k12
    {0, 77, 0},  {0, 77, 1},                                                           // ke3 ke4
    {0, 94, 0},  {0, 94, 1},  {2, 94, 0},  {2, 94, 1},  {0, 111, 0}, {0, 111, 1},     // k13..k18
    {2, 111, 0}, {2, 111, 1},                                                          // kw3 kw4
};

const SubkeyRule kRules256[34] = {
    {0, 0, 0},   {0, 0, 1},                                                            // kw1 kw2
    {3, 0, 0},   {3, 0, 1},   {1, 15, 0},  {1, 15, 1},  {2, 15, 0},  {2, 15, 1},      // k1..k6
    {1, 30, 0},  {1, 30, 1},                                                           // ke1 ke2
    {3, 30, 0},  {3, 30, 1},  {0, 45, 0},  {0, 45, 1},  {2, 45, 0},  {2, 45, 1},      // k7..k12
    {0, 60, 0},  {0, 60, 1},                                                           // ke3 ke4
    {1, 60, 0},  {1, 60, 1},  {3, 60, 0},  {3, 60, 1},  {0, 77, 0},  {0, 77, 1},      // k13..k18
    {2, 77, 0},  {2, 77, 1},                                                           // ke5 ke6
    {1, 94, 0},  {1, 94, 1},  {2, 94, 0},  {2, 94, 1},  {0, 111, 0}, {0, 111, 1},     // k19..k24
    {3, 111, 0}, {3, 111, 1},                                                          // kw3 kw4
};

// The RFC's encryption structure run with the decryption-ordered key table;
// Groups is the number of six-round groups (3 or 4), fixed so the rounds
// unroll.
template <int Groups>
void CamelliaBlock(const std::uint32_t* k, const unsigned char* in, unsigned char* out)
{
    std::uint32_t l0 = LoadBigEndian32(in) ^ k[0], l1 = LoadBigEndian32(in + 4) ^ k[1];
    std::uint32_t r0 = LoadBigEndian32(in + 8) ^ k[2], r1 = LoadBigEndian32(in + 12) ^ k[3];
    k += 4;
    for (int group = 0; group < Groups; ++group) {
        if (group > 0) {
            FL(l0, l1, k);
            FLInverse(r0, r1, k + 2);
            k += 4;
        }
        Round(l0, l1, r0, r1, k);
        Round(r0, r1, l0, l1, k + 2);
        Round(l0, l1, r0, r1, k + 4);
        Round(r0, r1, l0, l1, k + 6);
        Round(l0, l1, r0, r1, k + 8);
        Round(r0, r1, l0, l1, k + 10);
        k += 12;
    }
    StoreBigEndian32(out, r0 ^ k[0]);
    StoreBigEndian32(out + 4, r1 ^ k[1]);
    StoreBigEndian32(out + 8, l0 ^ k[2]);
    StoreBigEndian32(out + 12, l1 ^ k[3]);
}

} // namespace

class CamelliaUtilsImpl {
public:
    CamelliaUtilsImpl(int key_length, const void* key);

    int GetKeyLength() const { return key_length_; }
    const boost::shared_array<unsigned char>& GetKey() const { return key_copy_; }
    void Decrypt(const CamelliaUtils::Sink& sink, const unsigned char* data, std::size_t length);
    void DecryptBlock(const unsigned char* in, unsigned char* out) const;

private:

    int key_length_;
    // The expanded subkeys as 32-bit word pairs (26 pairs for a 128-bit key,
    // 34 otherwise), kept in the order decryption uses them; the rest zero.
    std::uint32_t key_table_[68] = {};
    unsigned char block_[16];
    unsigned pending_ = 0;
    boost::shared_array<unsigned char> key_copy_;
};

CamelliaUtilsImpl::CamelliaUtilsImpl(int key_length, const void* key) : key_length_(key_length)
{
    if (key_length != 16 && key_length != 24 && key_length != 32)
        KW_FAIL("unsupported key length", "kw::CamelliaUtils::CamelliaUtils");
    key_copy_.reset(new unsigned char[key_length]);
    std::memcpy(key_copy_.get(), key, key_length);
    const unsigned char* k = key_copy_.get();

    Quad q[4] = {}; // KL, KR, KA, KB
    q[0] = Quad{LoadBigEndian64(k), LoadBigEndian64(k + 8)};
    if (key_length == 24) {
        q[1].hi = LoadBigEndian64(k + 16);
        q[1].lo = ~q[1].hi;
    } else if (key_length == 32) {
        q[1] = Quad{LoadBigEndian64(k + 16), LoadBigEndian64(k + 24)};
    }
    const Quad d = Mix(Quad{q[0].hi ^ q[1].hi, q[0].lo ^ q[1].lo}, kSigma);
    q[2] = Mix(Quad{d.hi ^ q[0].hi, d.lo ^ q[0].lo}, kSigma + 2);
    q[3] = Mix(Quad{q[2].hi ^ q[1].hi, q[2].lo ^ q[1].lo}, kSigma + 4);

    const bool short_key = key_length == 16;
    const SubkeyRule* rules = short_key ? kRules128 : kRules256;
    const int count = short_key ? 26 : 34;
    // Decryption runs the encryption structure on the subkeys reversed, with
    // the whitening pairs kw1 kw2 and kw3 kw4 exchanged but kept in order.
    for (int i = 0; i < count; ++i) {
        int source = count - 1 - i;
        if (i < 2)
            source = count - 2 + i;
        else if (i >= count - 2)
            source = i - (count - 2);
        const Quad rotated = RotateLeft(q[rules[source].source], rules[source].rotation);
        const std::uint64_t subkey = rules[source].half == 0 ? rotated.hi : rotated.lo;
        key_table_[2 * i] = static_cast<std::uint32_t>(subkey >> 32);
        key_table_[2 * i + 1] = static_cast<std::uint32_t>(subkey);
    }
}

void CamelliaUtilsImpl::DecryptBlock(const unsigned char* in, unsigned char* out) const
{
    if (key_length_ == 16)
        CamelliaBlock<3>(key_table_, in, out);
    else
        CamelliaBlock<4>(key_table_, in, out);
}

void CamelliaUtilsImpl::Decrypt(const CamelliaUtils::Sink& sink, const unsigned char* data, std::size_t length)
{
    unsigned char plain[16];
    if (pending_ > 0) {
        const std::size_t take = std::min<std::size_t>(16 - pending_, length);
        std::memcpy(block_ + pending_, data, take);
        pending_ += static_cast<unsigned>(take);
        data += take;
        length -= take;
        if (pending_ < 16)
            return;
        pending_ = 0;
        DecryptBlock(block_, plain);
        sink(plain, 16);
    }
    // Whole blocks are read straight from the caller's buffer.
    for (; length >= 16; data += 16, length -= 16) {
        DecryptBlock(data, plain);
        sink(plain, 16);
    }
    if (length > 0)
        std::memcpy(block_, data, length);
    pending_ = static_cast<unsigned>(length);
}

CamelliaUtils::CamelliaUtils(int key_length, const void* key)
    : impl_(boost::make_shared<CamelliaUtilsImpl>(key_length, key))
{
}

int CamelliaUtils::GetKeyLength() const { return impl_->GetKeyLength(); }

boost::shared_array<unsigned char> CamelliaUtils::GetKey() const { return impl_->GetKey(); }

void CamelliaUtils::Decrypt(const Sink& sink, const void* data, std::size_t length)
{
    impl_->Decrypt(sink, static_cast<const unsigned char*>(data), length);
}

void CamelliaUtils::DecryptBlocks(const unsigned char* in, unsigned char* out, std::size_t blocks) const
{
    for (std::size_t i = 0; i < blocks; ++i, in += 16, out += 16) impl_->DecryptBlock(in, out);
}

} // namespace kw
