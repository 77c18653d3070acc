// Montgomery arithmetic modulo an odd n with the radix R = 2^k, where k is the
// exact bit length of n (not rounded to units). Products in Montgomery form
// need no division: only setting up the parameters divides.
#pragma once

#include <kw/MultiprecisionInteger.h>

namespace kw {

// Returns k, the bit length of n, and gives R^2 mod n and n' = -n^-1 mod R
// (so that n * n' = -1 mod R). n must be odd; zero raises "divided by zero".
unsigned CalcRelatedNums(const MultiprecisionInteger& n, MultiprecisionInteger& r_squared,
                         MultiprecisionInteger& n_prime);

// a * b * R^-1 mod n, for a, b < n. MonMul(x, R^2 mod n) puts x into
// Montgomery form (x * R mod n).
MultiprecisionInteger MonMul(const MultiprecisionInteger& a, const MultiprecisionInteger& b, unsigned k,
                             const MultiprecisionInteger& n, const MultiprecisionInteger& n_prime);

// t * R^-1 mod n (the same as MonMul(t, 1)): takes a value out of Montgomery form.
MultiprecisionInteger MonRed(const MultiprecisionInteger& t, unsigned k, const MultiprecisionInteger& n,
                             const MultiprecisionInteger& n_prime);

} // namespace kw
