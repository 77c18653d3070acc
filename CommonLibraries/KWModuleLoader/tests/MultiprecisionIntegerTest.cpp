#include <kw/MultiprecisionInteger.h>

#include "BigNum.h"
#include "../../common/tests/ExpectError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using kw::MultiprecisionInteger;
using namespace kwtest;

namespace {
const void* Storage(const MultiprecisionInteger& v)
{
    const void* p = nullptr;
    v.VisitBytes([&](const void* data, std::size_t) { p = data; });
    return p;
}

std::size_t UnitsFor(const BIGNUM* b) { return (BN_num_bits(b) + 127) / 128; }

#define EXPECT_BN_EQ(expected, actual)                                                   \
    do {                                                                                 \
        Bn actual_bn = ToBn(actual);                                                     \
        EXPECT_EQ(0, BN_cmp(expected, actual_bn.get()))                                  \
            << Hex(expected) << " != " << Hex(actual_bn.get());                          \
        EXPECT_EQ(UnitsFor(expected), std::size_t((actual).GetUnits())) << "not trimmed"; \
    } while (0)
} // namespace

TEST(MultiprecisionInteger, BytesMakeLittleEndianValuesOfWholeUnits)
{
    const std::uint8_t f4[] = {1, 0, 1};
    const MultiprecisionInteger v(f4, sizeof f4);
    EXPECT_EQ(1, v.GetUnits());
    unsigned highest = 0;
    ASSERT_TRUE(v.GetHighestBit(highest));
    EXPECT_EQ(16u, highest);
    EXPECT_EQ(65537u, v.GetWord(0));
    EXPECT_FALSE(v < MultiprecisionInteger::F4());
    EXPECT_FALSE(MultiprecisionInteger::F4() < v);

    const Bytes sixteen(16, 0), seventeen(17, 0);
    EXPECT_EQ(1, MultiprecisionInteger(sixteen.data(), sixteen.size()).GetUnits());
    const MultiprecisionInteger zero17(seventeen.data(), seventeen.size());
    EXPECT_EQ(2, zero17.GetUnits()); // not trimmed
    EXPECT_TRUE(zero17.IsZero());
    EXPECT_FALSE(zero17.GetHighestBit(highest));
    EXPECT_TRUE(MultiprecisionInteger().IsZero());
    EXPECT_EQ(0, MultiprecisionInteger(nullptr, 0).GetUnits());
    EXPECT_EQ(3, MultiprecisionInteger::WithUnits(3).GetUnits());
}

TEST(MultiprecisionInteger, ArithmeticMatchesOpenSsl)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> bits(1, 4096), shift(0, 300);
    BnCtx ctx(BN_CTX_new());
    for (int round = 0; round < 150; ++round) {
        const Bn a = RandomBn(bits(rng)), b = RandomBn(bits(rng));
        const MultiprecisionInteger x = FromBn(a.get()), y = FromBn(b.get());
        SCOPED_TRACE(Hex(a.get()) + " op " + Hex(b.get()));
        Bn r = NewBn();

        BN_add(r.get(), a.get(), b.get());
        EXPECT_BN_EQ(r.get(), x + y);

        const bool a_smaller = BN_cmp(a.get(), b.get()) < 0;
        EXPECT_EQ(a_smaller, x < y);
        BN_sub(r.get(), a_smaller ? b.get() : a.get(), a_smaller ? a.get() : b.get());
        EXPECT_BN_EQ(r.get(), a_smaller ? y - x : x - y);

        BN_mul(r.get(), a.get(), b.get(), ctx.get());
        EXPECT_BN_EQ(r.get(), x * y);
        BN_sqr(r.get(), a.get(), ctx.get());
        EXPECT_BN_EQ(r.get(), x * x);

        if (!BN_is_zero(b.get())) {
            BN_mod(r.get(), a.get(), b.get(), ctx.get());
            EXPECT_BN_EQ(r.get(), x % y);
            // a*b + small mod b: a dividend much longer than the divisor
            Bn big = NewBn();
            BN_mul(big.get(), a.get(), b.get(), ctx.get());
            BN_add_word(big.get(), 12345);
            BN_mod(r.get(), big.get(), b.get(), ctx.get());
            EXPECT_BN_EQ(r.get(), FromBn(big.get()) % y);
        }

        const int s = shift(rng);
        BN_lshift(r.get(), a.get(), s);
        EXPECT_BN_EQ(r.get(), x << unsigned(s));

        // in-place operations keep their units
        MultiprecisionInteger z = x;
        z >>= unsigned(s);
        EXPECT_EQ(x.GetUnits(), z.GetUnits());
        BN_rshift(r.get(), a.get(), s);
        z.Trim();
        EXPECT_BN_EQ(r.get(), z);

        MultiprecisionInteger low = x;
        const int keep = bits(rng);
        low.KeepLowBits(unsigned(keep));
        BN_copy(r.get(), a.get());
        if (BN_num_bits(r.get()) > keep) BN_mask_bits(r.get(), keep);
        low.Trim();
        EXPECT_BN_EQ(r.get(), low);

        MultiprecisionInteger sum = x;
        sum.Resize(int(std::max(UnitsFor(a.get()), UnitsFor(b.get())) + 1));
        sum += y;
        BN_add(r.get(), a.get(), b.get());
        sum.Trim();
        EXPECT_BN_EQ(r.get(), sum);
        sum.Resize(sum.GetUnits() + 1);
        sum -= y;
        sum.Trim();
        EXPECT_BN_EQ(a.get(), sum);

        unsigned highest = 0;
        EXPECT_EQ(!BN_is_zero(a.get()), x.GetHighestBit(highest));
        if (!BN_is_zero(a.get())) {
            EXPECT_EQ(unsigned(BN_num_bits(a.get()) - 1), highest);
        }
    }
}

TEST(MultiprecisionInteger, ElementsReadAndWriteBitsBytesAndWords)
{
    const Bn a = RandomBn(700);
    MultiprecisionInteger x = FromBn(a.get());
    Bytes le(16 * std::size_t(x.GetUnits()));
    BN_bn2lebinpad(a.get(), le.data(), int(le.size()));
    for (std::int64_t i = 0; i < 128 * x.GetUnits(); i += 37)
        EXPECT_EQ(bool(BN_is_bit_set(a.get(), int(i))), bool(x.Bit(i))) << i;
    for (std::int64_t i = 0; i < 16 * x.GetUnits(); ++i) EXPECT_EQ(le[i], std::uint8_t(x.Byte(i))) << i;
    for (std::int64_t i = 0; i < 4 * x.GetUnits(); ++i) {
        const std::uint32_t expected = le[4 * i] | le[4 * i + 1] << 8 | le[4 * i + 2] << 16 | std::uint32_t(le[4 * i + 3]) << 24;
        EXPECT_EQ(expected, std::uint32_t(x.Word(i))) << i;
    }

    // Writes go to a private copy; the shared original is left alone.
    const MultiprecisionInteger original = x;
    EXPECT_EQ(Storage(original), Storage(x));
    x.Bit(650) = !x.Bit(650);
    x.Byte(3) = 0xA5;
    x.Word(5) = 0xDEADBEEF;
    EXPECT_NE(Storage(original), Storage(x));
    Bytes written = le;
    written[650 / 8] ^= std::uint8_t(1u << (650 % 8));
    written[3] = 0xA5;
    for (int i = 0; i < 4; ++i) written[20 + i] = std::uint8_t(0xDEADBEEFu >> (8 * i));
    const Bn expected(BN_lebin2bn(written.data(), int(written.size()), nullptr));
    EXPECT_EQ(0, BN_cmp(expected.get(), ToBn(x).get()));
    EXPECT_EQ(0, BN_cmp(a.get(), ToBn(original).get()));

    // Assigning one reference to another copies the element.
    MultiprecisionInteger y = MultiprecisionInteger::WithUnits(1);
    y.Word(2) = x.Word(5);
    EXPECT_EQ(0xDEADBEEFu, y.GetWord(2));
}

TEST(MultiprecisionInteger, FailuresCarryTheirClassAndText)
{
    MultiprecisionInteger one_unit = MultiprecisionInteger::WithUnits(1);
    // indexes beyond the units or negative
    for (std::int64_t bit : {std::int64_t(-1), std::int64_t(128)})
        EXPECT_EQ("out of range", ExpectError<kw::ModuleOutOfRange>([&] { (void)bool(one_unit.Bit(bit)); }, "out of range"));
    ExpectError<kw::ModuleOutOfRange>([&] { one_unit.Byte(16) = 1; }, "out of range");
    ExpectError<kw::ModuleOutOfRange>([&] { (void)one_unit.GetWord(4); }, "out of range");
    ExpectError<kw::ModuleOutOfRange>([&] { one_unit.SetWord(INT64_MAX / 2, 1); }, "out of range");
    EXPECT_NO_THROW(one_unit.Bit(127) = true);

    MultiprecisionInteger empty;
    ExpectError<kw::ModuleLoaderCommonError>([&] { (void)empty.GetByte(0); }, "no buffer");
    ExpectError<kw::ModuleLoaderCommonError>([&] { empty.Bit(0) = true; }, "no buffer");
    kw::WordReference unbound;
    ExpectError<kw::ModuleLoaderCommonError>([&] { (void)std::uint32_t(unbound); }, "invalid reference");
    ExpectError<kw::ModuleLoaderCommonError>([&] { unbound = 1; }, "invalid reference");

    const MultiprecisionInteger small = MultiprecisionInteger::F4();
    const std::uint8_t big_bytes[] = {0, 0, 2};
    const MultiprecisionInteger big(big_bytes, sizeof big_bytes);
    MultiprecisionInteger a = small;
    ExpectError<kw::ModuleLoaderCommonError>([&] { a -= big; }, "something wrong");
    EXPECT_EQ(65537u, a.GetWord(0)) << "a failed subtraction changes nothing";
    a -= MultiprecisionInteger();
    EXPECT_EQ(65537u, a.GetWord(0));
    a -= MultiprecisionInteger::WithUnits(1);
    EXPECT_EQ(65537u, a.GetWord(0));
    ExpectError<kw::ModuleLoaderCommonError>([&] { (void)(small - big); }, "something wrong");
    ExpectError<kw::ModuleLoaderCommonError>([&] { a += MultiprecisionInteger::WithUnits(2); }, "something wrong");
    ExpectError<kw::ModuleLoaderCommonError>([&] { a -= MultiprecisionInteger::WithUnits(2); }, "something wrong");

    const Bytes all_ones(16, 0xFF);
    MultiprecisionInteger full(all_ones.data(), all_ones.size());
    ExpectError<kw::ModuleLoaderCommonError>([&] { full += MultiprecisionInteger::F4(); }, "something wrong");
    EXPECT_EQ(0xFFFFFFFFu, full.GetWord(0)) << "a failed addition changes nothing";
    EXPECT_EQ(0xFFFFFFFFu, full.GetWord(3));

    MultiprecisionInteger none;
    ExpectError<kw::ModuleRangeError>([&] { none += small; }, "invalid operation");
    ExpectError<kw::ModuleRangeError>([&] { none -= small; }, "invalid operation");
    EXPECT_NO_THROW(none += MultiprecisionInteger());

    // Thrown without a location: the message is the bare text.
    EXPECT_EQ("devided by zero", ExpectError<kw::ModuleOverflowError>([&] { (void)(small % none); }, "devided by zero"));
    ExpectError<kw::ModuleOverflowError>([&] { (void)(small % MultiprecisionInteger::WithUnits(2)); }, "devided by zero");

    MultiprecisionInteger wide = big << 200;
    ExpectError<kw::ModuleOverflowError>([&] { wide.Resize(1); }, "length too small");
    wide.Resize(5);
    EXPECT_EQ(5, wide.GetUnits());
    EXPECT_EQ(0, BN_cmp(ToBn(big << 200).get(), ToBn(wide).get()));

    EXPECT_THROW(MultiprecisionInteger::WithUnits(1 << 28), std::bad_alloc);
}
