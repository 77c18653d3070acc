#include <kw/Montgomery.h>

#include "BigNum.h"
#include "../../common/tests/ExpectError.h"

#include <gtest/gtest.h>

#include <random>

using kw::MultiprecisionInteger;
using namespace kwtest;

namespace {
Bn OddModulus(int bits)
{
    Bn n = RandomBn(bits);
    BN_set_bit(n.get(), bits - 1);
    BN_set_bit(n.get(), 0);
    return n;
}

// n, 2^127 + 1 and random odd moduli of 2 to 4096 bits, some a whole number of limbs.
std::vector<Bn> Moduli()
{
    std::vector<Bn> moduli;
    Bn special = NewBn();
    BN_set_bit(special.get(), 127);
    BN_add_word(special.get(), 1);
    moduli.push_back(std::move(special));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> bits(2, 4096);
    for (int i = 0; i < 24; ++i) moduli.push_back(OddModulus(bits(rng)));
    for (int b : {64, 128, 1024, 2048}) moduli.push_back(OddModulus(b));
    return moduli;
}
} // namespace

TEST(Montgomery, RelatedNumbersSatisfyTheirDefinitions)
{
    BnCtx ctx(BN_CTX_new());
    MultiprecisionInteger r2, n_prime;
    // 13 in one byte, and as key-file bytes that carry zero units above the modulus.
    for (const std::size_t length : {1, 48}) {
        Bytes thirteen(length, 0);
        thirteen[0] = 13;
        EXPECT_EQ(4u, kw::CalcRelatedNums(MultiprecisionInteger(thirteen.data(), thirteen.size()), r2, n_prime));
        EXPECT_EQ(11u, n_prime.GetWord(0));
    }

    for (const Bn& n : Moduli()) {
        SCOPED_TRACE(Hex(n.get()));
        const unsigned k = kw::CalcRelatedNums(FromBn(n.get()), r2, n_prime);
        ASSERT_EQ(unsigned(BN_num_bits(n.get())), k);

        Bn expected = NewBn(), r = NewBn();
        BN_set_bit(r.get(), int(2 * k));
        BN_mod(expected.get(), r.get(), n.get(), ctx.get());
        EXPECT_EQ(0, BN_cmp(expected.get(), ToBn(r2).get()));

        // n * n' + 1 = 0 mod 2^k, with n' < 2^k
        const Bn np = ToBn(n_prime);
        EXPECT_LE(BN_num_bits(np.get()), int(k));
        Bn product = NewBn();
        BN_mul(product.get(), n.get(), np.get(), ctx.get());
        BN_add_word(product.get(), 1);
        EXPECT_TRUE(BN_is_zero(product.get()) || BN_num_bits(product.get()) > int(k));
        BN_mask_bits(product.get(), int(k));
        EXPECT_TRUE(BN_is_zero(product.get()));
    }
}

TEST(Montgomery, MonMulMatchesOpenSsl)
{
    BnCtx ctx(BN_CTX_new());
    for (const Bn& n : Moduli()) {
        SCOPED_TRACE(Hex(n.get()));
        const MultiprecisionInteger modulus = FromBn(n.get());
        MultiprecisionInteger r2, n_prime;
        const unsigned k = kw::CalcRelatedNums(modulus, r2, n_prime);
        Bn r_inverse = NewBn(), r = NewBn();
        BN_set_bit(r.get(), int(k));
        ASSERT_NE(nullptr, BN_mod_inverse(r_inverse.get(), r.get(), n.get(), ctx.get()));
        std::unique_ptr<BN_MONT_CTX, void (*)(BN_MONT_CTX*)> mont(BN_MONT_CTX_new(), BN_MONT_CTX_free);
        BN_MONT_CTX_set(mont.get(), n.get(), ctx.get());

        const std::uint8_t one_byte = 1;
        const MultiprecisionInteger one(&one_byte, 1);
        for (int round = 0; round < 4; ++round) {
            Bn a = NewBn(), b = NewBn(), expected = NewBn();
            BN_rand_range(a.get(), n.get());
            BN_rand_range(b.get(), n.get());
            const MultiprecisionInteger x = FromBn(a.get()), y = FromBn(b.get());

            // a * b and a * a, each times R^-1 mod n
            for (const auto& factor : {std::make_pair(b.get(), &y), std::make_pair(a.get(), &x)}) {
                BN_mod_mul(expected.get(), a.get(), factor.first, n.get(), ctx.get());
                BN_mod_mul(expected.get(), expected.get(), r_inverse.get(), n.get(), ctx.get());
                EXPECT_EQ(0, BN_cmp(expected.get(), ToBn(kw::MonMul(x, *factor.second, k, modulus, n_prime)).get()));
            }
            if (k % 64 == 0) { // then OpenSSL's radix is the same 2^k
                BN_mod_mul_montgomery(expected.get(), a.get(), b.get(), mont.get(), ctx.get());
                EXPECT_EQ(0, BN_cmp(expected.get(), ToBn(kw::MonMul(x, y, k, modulus, n_prime)).get()));
            }

            // into Montgomery form and back
            const MultiprecisionInteger in_form = kw::MonMul(x, r2, k, modulus, n_prime);
            EXPECT_EQ(0, BN_cmp(a.get(), ToBn(kw::MonRed(in_form, k, modulus, n_prime)).get()));
            EXPECT_EQ(0, BN_cmp(a.get(), ToBn(kw::MonMul(in_form, one, k, modulus, n_prime)).get()));
        }
    }
}

TEST(Montgomery, ZeroModulusIsRaisedWithLocation)
{
    MultiprecisionInteger r2, n_prime;
    const std::string message = ExpectError<kw::ModuleOverflowError>(
        [&] { kw::CalcRelatedNums(MultiprecisionInteger::WithUnits(2), r2, n_prime); }, "divided by zero");
    EXPECT_EQ(0u, message.find("At Montgomery.cpp(")) << message;
    EXPECT_NE(std::string::npos,
              message.find(") in unsigned int __cdecl kw::CalcRelatedNums(const class kw::MultiprecisionInteger &,"
                           "class kw::MultiprecisionInteger &,class kw::MultiprecisionInteger &)()\ndivided by zero"))
        << message;
}
