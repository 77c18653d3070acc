#include <kw/RSA.h>

#include <kw/ErrorBoundary.h>
#include <kw/Montgomery.h>

#include "Limbs.h"

namespace kw {

namespace {
const char* const kEncryptLabel = "kw::RSA::Encrypt";
const char* const kAntiPaddingLabel = "kw::RSA::DecryptionAntiPadding";
} // namespace

RSA::RSA(const MultiprecisionInteger& n, const MultiprecisionInteger& e) : k_(0), n_(n), e_(e)
{
    k_ = CalcRelatedNums(n_, r_squared_, n_prime_);
}

RSA::RSA(const void* modulus, std::size_t length) : RSA(MultiprecisionInteger(modulus, length)) {}

void RSA::Encrypt(const void* block, std::size_t length, const Output& output) const
{
    int line = 0;
    LibraryBoundary<ModuleLoaderBadAllocation, ModuleLoaderCommonError>(__FILE__, line, kEncryptLabel, [&] {
        KW_STEP(line);
        MultiprecisionInteger x(block, length);
        // A block at or above n (longer than n, or tampered) is reduced first,
        // so the result is block^e mod n like for any other block.
        KW_STEP(line);
        if (!(x < n_)) x = x % n_;

        KW_STEP(line);
        const MultiprecisionInteger in_form = MonMul(x, r_squared_, k_, n_, n_prime_);
        // Right to left over the bits of e; bit 0 is taken as set (e is odd).
        // Squaring stops at e's highest bit: further squares are never used.
        KW_STEP(line);
        MultiprecisionInteger accumulator = in_form;
        MultiprecisionInteger square = in_form;
        unsigned highest = 0;
        e_.GetHighestBit(highest);
        for (unsigned bit = 1; bit <= highest; ++bit) {
            square = MonMul(square, square, k_, n_, n_prime_);
            if (e_.GetBit(bit)) accumulator = MonMul(accumulator, square, k_, n_, n_prime_);
        }

        KW_STEP(line);
        MultiprecisionInteger m = MonRed(accumulator, k_, n_, n_prime_);
        // The layout is checked over all of n's storage: give m that length
        // even when its top bytes are zero (no marker bit, empty payload).
        m.Resize(n_.GetUnits());
        KW_STEP(line);
        DecryptionAntiPadding(m, output);
    });
}

void RSA::DecryptionAntiPadding(MultiprecisionInteger& m, const Output& output) const
{
    int line = 0;
    LibraryBoundary(__FILE__, line, kAntiPaddingLabel, [&] {
        KW_STEP(line);
        unsigned h = 0;
        n_.GetHighestBit(h);
        const unsigned c = (h - 34) / 32; // unsigned on purpose: tiny moduli fail on the index
        KW_STEP(line);
        const std::uint32_t length = m.GetWord(c);
        if (length > 4 * c) KW_RAISE(ModuleLoaderCommonError("illegal cypher text"), kAntiPaddingLabel);

        KW_STEP(line);
        m.SetWord(c, 0);
        m.SetBit(h - 2, false);

        KW_STEP(line);
        const std::int64_t end = std::int64_t(n_.GetUnits()) * 16;
        for (std::int64_t i = length; i < end; ++i)
            if (m.GetByte(i) != 0) KW_RAISE(ModuleLoaderCommonError("illegal cypher text"), kAntiPaddingLabel);

        KW_STEP(line);
        output(detail::MultiprecisionAccess::Limbs(m), length);
    });
}

} // namespace kw
