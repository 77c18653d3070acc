// The arithmetic kernels behind MultiprecisionInteger: each 128-bit unit is
// worked on as two 64-bit limbs (low first), with 128-bit intermediate
// products, so a unit's lanes carry into each other explicitly.
#pragma once

#include <kw/MultiprecisionInteger.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kw {

typedef std::uint64_t Limb;
typedef unsigned __int128 WideLimb;
const unsigned kLimbBits = 64;
const std::size_t kLimbsPerUnit = 2;

namespace limbs {

// Limbs below the highest non-zero one, plus one.
inline std::size_t Significant(const Limb* a, std::size_t n)
{
    while (n > 0 && a[n - 1] == 0) --n;
    return n;
}

inline int Compare(const Limb* a, std::size_t an, const Limb* b, std::size_t bn)
{
    an = Significant(a, an);
    bn = Significant(b, bn);
    if (an != bn) return an < bn ? -1 : 1;
    for (std::size_t i = an; i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// r = a + b over n limbs plus an incoming carry; returns the carry out.
inline Limb Add(Limb* r, const Limb* a, const Limb* b, std::size_t n, Limb carry = 0)
{
    for (std::size_t i = 0; i < n; ++i) {
        const WideLimb s = WideLimb(a[i]) + b[i] + carry;
        r[i] = Limb(s);
        carry = Limb(s >> kLimbBits);
    }
    return carry;
}

// r = a + carry over n limbs; returns the carry out.
inline Limb AddCarry(Limb* r, const Limb* a, std::size_t n, Limb carry)
{
    for (std::size_t i = 0; i < n; ++i) {
        r[i] = a[i] + carry;
        carry = r[i] < carry;
    }
    return carry;
}

// r[0, n) += carry, stopping as soon as nothing carries on.
inline void Propagate(Limb* r, std::size_t n, Limb carry)
{
    for (std::size_t i = 0; carry && i < n; ++i) {
        r[i] += carry;
        carry = r[i] < carry;
    }
}

// r = a - b over n limbs minus an incoming borrow; returns the borrow out.
inline Limb Sub(Limb* r, const Limb* a, const Limb* b, std::size_t n, Limb borrow = 0)
{
    for (std::size_t i = 0; i < n; ++i) {
        const WideLimb d = WideLimb(a[i]) - b[i] - borrow;
        r[i] = Limb(d);
        borrow = Limb(d >> kLimbBits) & 1;
    }
    return borrow;
}

// r = a - borrow over n limbs; returns the borrow out.
inline Limb SubBorrow(Limb* r, const Limb* a, std::size_t n, Limb borrow)
{
    for (std::size_t i = 0; i < n; ++i) {
        const Limb x = a[i];
        r[i] = x - borrow;
        borrow = x < borrow;
    }
    return borrow;
}

// r[0, n) += a[0, n) * b; returns the limb that carries out of r[n - 1].
inline Limb MulAdd(Limb* r, const Limb* a, std::size_t n, Limb b)
{
    Limb carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const WideLimb p = WideLimb(a[i]) * b + r[i] + carry;
        r[i] = Limb(p);
        carry = Limb(p >> kLimbBits);
    }
    return carry;
}

// r[0, an + bn) = a * b; r must not overlap a or b.
inline void Multiply(Limb* r, const Limb* a, std::size_t an, const Limb* b, std::size_t bn)
{
    std::memset(r, 0, (an + bn) * sizeof(Limb));
    for (std::size_t j = 0; j < bn; ++j)
        r[an + j] = MulAdd(r + j, a, an, b[j]);
}

// r[0, 2n) = a * a: each cross product once, doubled, then the squares added.
inline void Square(Limb* r, const Limb* a, std::size_t n)
{
    std::memset(r, 0, 2 * n * sizeof(Limb));
    for (std::size_t i = 0; i + 1 < n; ++i)
        r[i + n] = MulAdd(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    Limb top = 0;
    for (std::size_t i = 0; i < 2 * n; ++i) {
        const Limb x = r[i];
        r[i] = (x << 1) | top;
        top = x >> (kLimbBits - 1);
    }
    Limb carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const WideLimb sq = WideLimb(a[i]) * a[i];
        WideLimb s = WideLimb(r[2 * i]) + Limb(sq) + carry;
        r[2 * i] = Limb(s);
        s = WideLimb(r[2 * i + 1]) + Limb(sq >> kLimbBits) + Limb(s >> kLimbBits);
        r[2 * i + 1] = Limb(s);
        carry = Limb(s >> kLimbBits);
    }
}

// r[0, n) = low n limbs of a * b (the product mod 2^(64n)).
inline void MultiplyLow(Limb* r, const Limb* a, std::size_t an, const Limb* b, std::size_t bn, std::size_t n)
{
    std::memset(r, 0, n * sizeof(Limb));
    for (std::size_t j = 0; j < bn && j < n; ++j) {
        const std::size_t len = an < n - j ? an : n - j;
        const Limb carry = MulAdd(r + j, a, len, b[j]);
        if (j + len < n) r[j + len] = carry;
    }
}

// Clears every bit at or above `bits` in a[0, n).
inline void KeepLowBits(Limb* a, std::size_t n, std::size_t bits)
{
    const std::size_t whole = bits / kLimbBits;
    if (whole >= n) return;
    const unsigned rest = bits % kLimbBits;
    a[whole] &= rest ? (Limb(1) << rest) - 1 : 0;
    std::memset(a + whole + 1, 0, (n - whole - 1) * sizeof(Limb));
}

// r[0, n - shift / 64) = a[0, n) >> shift; r may equal a.
inline void ShiftRight(Limb* r, const Limb* a, std::size_t n, std::size_t shift)
{
    const std::size_t whole = shift / kLimbBits;
    const unsigned rest = shift % kLimbBits;
    for (std::size_t i = 0; i + whole < n; ++i) {
        Limb x = a[i + whole] >> rest;
        if (rest && i + whole + 1 < n) x |= a[i + whole + 1] << (kLimbBits - rest);
        r[i] = x;
    }
}

} // namespace limbs

namespace detail {
// The limbs of a value for the kernels; a value without storage has none.
struct MultiprecisionAccess {
    static const Limb* Limbs(const MultiprecisionInteger& v);
    static std::size_t Count(const MultiprecisionInteger& v);
    // A new zero value with room for `count` limbs (rounded up to units), to
    // be filled through Limbs and then trimmed.
    static MultiprecisionInteger Make(std::size_t count, Limb*& limbs);
};
} // namespace detail

} // namespace kw
