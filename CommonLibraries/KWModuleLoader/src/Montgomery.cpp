#include <kw/Montgomery.h>

#include "Limbs.h"

#include <algorithm>
#include <vector>

namespace kw {

namespace {
typedef detail::MultiprecisionAccess Access;

const char* const kCalcRelatedNumsLabel =
    "unsigned int __cdecl kw::CalcRelatedNums(const class kw::MultiprecisionInteger &,"
    "class kw::MultiprecisionInteger &,class kw::MultiprecisionInteger &)";

// Working space for one product: on the stack for keys up to 4096 bits.
class Scratch {
public:
    explicit Scratch(std::size_t count)
    {
        if (count > sizeof fixed_ / sizeof fixed_[0]) heap_.resize(count);
        data_ = heap_.empty() ? fixed_ : heap_.data();
    }
    Limb* get() { return data_; }

private:
    Limb fixed_[320];
    std::vector<Limb> heap_;
    Limb* data_;
};

std::size_t SignificantLimbs(const MultiprecisionInteger& v)
{
    return limbs::Significant(Access::Limbs(v), Access::Count(v));
}

// Reduces u[0, un) = T (with T < 2^(64 * (un - 1)) and room for the carry)
// to T * R^-1 mod n: m = (T mod R) * n' mod R, t = (T + m * n) / R, and n
// subtracted once if t >= n. Uses m[0, ceil(k / 64)) as working space.
MultiprecisionInteger Reduce(Limb* u, std::size_t un, Limb* m, unsigned k, const MultiprecisionInteger& n,
                             const MultiprecisionInteger& n_prime)
{
    const std::size_t s = (std::size_t(k) + kLimbBits - 1) / kLimbBits;
    const Limb* nl = Access::Limbs(n);
    const std::size_t nn = SignificantLimbs(n);

    if (k % kLimbBits == 0) {
        // R is a whole number of limbs (the usual key sizes): m, the one
        // value below R with T + m * n = 0 mod R, comes limb by limb from the
        // low limb of n', each limb clearing the lowest limb of T still set.
        const Limb n0 = Access::Limbs(n_prime)[0];
        for (std::size_t j = 0; j < s; ++j)
            limbs::Propagate(u + j + nn, un - j - nn, limbs::MulAdd(u + j, nl, nn, u[j] * n0));
    } else {
        limbs::MultiplyLow(m, u, std::min(un, s), Access::Limbs(n_prime), SignificantLimbs(n_prime), s);
        limbs::KeepLowBits(m, s, k);
        const std::size_t mn = limbs::Significant(m, s);
        for (std::size_t j = 0; j < mn; ++j)
            limbs::Propagate(u + j + nn, un - j - nn, limbs::MulAdd(u + j, nl, nn, m[j]));
    }

    const std::size_t tn = un - k / kLimbBits;
    Limb* t;
    MultiprecisionInteger result = Access::Make(tn, t);
    if (t) {
        limbs::ShiftRight(t, u, un, k);
        if (limbs::Compare(t, tn, nl, nn) >= 0)
            limbs::SubBorrow(t + nn, t + nn, tn - nn, limbs::Sub(t, t, nl, nn));
    }
    result.Trim();
    return result;
}

// Limbs for T + m * n plus a carry limb, where T has `product` limbs.
std::size_t ReductionLimbs(std::size_t product, unsigned k, const MultiprecisionInteger& n)
{
    const std::size_t s = (std::size_t(k) + kLimbBits - 1) / kLimbBits;
    return std::max(product, s + SignificantLimbs(n)) + 1;
}
} // namespace

unsigned CalcRelatedNums(const MultiprecisionInteger& n, MultiprecisionInteger& r_squared,
                         MultiprecisionInteger& n_prime)
{
    unsigned highest;
    if (!n.GetHighestBit(highest)) KW_RAISE(ModuleOverflowError("divided by zero"), kCalcRelatedNumsLabel);
    const unsigned k = highest + 1;
    // Bytes from a key file may carry zero units above the modulus.
    MultiprecisionInteger modulus(n);
    modulus.Trim();

    const int units = int((2 * std::size_t(k) + 127) / 128);
    MultiprecisionInteger r = MultiprecisionInteger::WithUnits(units);
    r.SetBit(0, true);
    r = r << k;
    // 2^(k-1) <= n < 2^k, so R - n < n and R^2 = (R - n)^2 mod n.
    const MultiprecisionInteger r_minus_n = r - modulus;
    MultiprecisionInteger squared = (r_minus_n * r_minus_n) % modulus;

    // n' bit by bit, without division: q tracks (n * n' + 1) / 2^i.
    MultiprecisionInteger q = MultiprecisionInteger::WithUnits(units);
    MultiprecisionInteger factor = MultiprecisionInteger::WithUnits(units);
    MultiprecisionInteger t = MultiprecisionInteger::WithUnits(units);
    t.SetBit(0, true);
    for (unsigned i = 0; i < k; ++i) {
        if (!q.GetBit(0)) {
            q += modulus;
            factor += t;
        }
        q >>= 1;
        t = t << 1;
    }
    squared.Trim();
    factor.Trim();
    r_squared = squared;
    n_prime = factor;
    return k;
}

MultiprecisionInteger MonMul(const MultiprecisionInteger& a, const MultiprecisionInteger& b, unsigned k,
                             const MultiprecisionInteger& n, const MultiprecisionInteger& n_prime)
{
    const std::size_t an = SignificantLimbs(a), bn = SignificantLimbs(b);
    const std::size_t un = ReductionLimbs(an + bn, k, n);
    Scratch scratch(un + (k + kLimbBits - 1) / kLimbBits);
    Limb* u = scratch.get();
    if (an && bn) {
        // Squaring (the common case in exponentiation) computes each cross product once.
        if (&a == &b || Access::Limbs(a) == Access::Limbs(b))
            limbs::Square(u, Access::Limbs(a), an);
        else
            limbs::Multiply(u, Access::Limbs(a), an, Access::Limbs(b), bn);
    }
    std::fill(u + (an && bn ? an + bn : 0), u + un, Limb(0));
    return Reduce(u, un, u + un, k, n, n_prime);
}

MultiprecisionInteger MonRed(const MultiprecisionInteger& t, unsigned k, const MultiprecisionInteger& n,
                             const MultiprecisionInteger& n_prime)
{
    const std::size_t tn = SignificantLimbs(t);
    const std::size_t un = ReductionLimbs(tn, k, n);
    Scratch scratch(un + (k + kLimbBits - 1) / kLimbBits);
    Limb* u = scratch.get();
    std::copy(Access::Limbs(t), Access::Limbs(t) + tn, u);
    std::fill(u + tn, u + un, Limb(0));
    return Reduce(u, un, u + un, k, n, n_prime);
}

} // namespace kw
