#include <kw/MultiprecisionInteger.h>

#include "Limbs.h"

#include <algorithm>
#include <new>
#include <vector>

namespace kw {

// The header and the 16-byte aligned unit array share one allocation.
struct MultiprecisionInteger::Body {
    std::int32_t units;
    int refs; // plain count: values stay in one thread
    Limb* data; // the unit array, two limbs per unit
};

namespace {
const std::size_t kUnitBytes = 16;
const std::size_t kHeaderBytes = 16; // the body header, rounded up to one unit
const std::int64_t kMaxUnits = std::int64_t(1) << 28;

std::size_t UnitsForLimbs(std::size_t count) { return (count + kLimbsPerUnit - 1) / kLimbsPerUnit; }
} // namespace

// ---- bodies ----

MultiprecisionInteger::Body* MultiprecisionInteger::NewBody(std::int64_t units)
{
    static_assert(sizeof(Body) <= kHeaderBytes, "the header fits in front of the units");
    if (units < 0 || units >= kMaxUnits) throw std::bad_alloc();
    if (units == 0) return nullptr;
    void* raw = ::operator new(kHeaderBytes + std::size_t(units) * kUnitBytes, std::align_val_t(kUnitBytes));
    auto* body = static_cast<Body*>(raw);
    body->units = std::int32_t(units);
    body->refs = 1;
    body->data = reinterpret_cast<Limb*>(static_cast<char*>(raw) + kHeaderBytes);
    std::memset(body->data, 0, std::size_t(units) * kUnitBytes);
    return body;
}

void MultiprecisionInteger::FreeBody(Body* body) noexcept
{
    ::operator delete(body, std::align_val_t(kUnitBytes));
}

MultiprecisionInteger::MultiprecisionInteger(const void* bytes, std::size_t length)
    : body_(NewBody((std::int64_t(length) + kUnitBytes - 1) / kUnitBytes))
{
    if (length) std::memcpy(body_->data, bytes, length);
}

MultiprecisionInteger MultiprecisionInteger::WithUnits(int units)
{
    return MultiprecisionInteger(NewBody(units));
}

MultiprecisionInteger MultiprecisionInteger::F4()
{
    MultiprecisionInteger v(NewBody(1));
    v.body_->data[0] = 65537;
    return v;
}

MultiprecisionInteger::MultiprecisionInteger(const MultiprecisionInteger& other) noexcept : body_(other.body_)
{
    if (body_) ++body_->refs;
}

MultiprecisionInteger& MultiprecisionInteger::operator=(const MultiprecisionInteger& other) noexcept
{
    if (other.body_) ++other.body_->refs;
    Release();
    body_ = other.body_;
    return *this;
}

MultiprecisionInteger& MultiprecisionInteger::operator=(MultiprecisionInteger&& other) noexcept
{
    if (this != &other) {
        Release();
        body_ = other.body_;
        other.body_ = nullptr;
    }
    return *this;
}

MultiprecisionInteger::~MultiprecisionInteger() { Release(); }

void MultiprecisionInteger::Release() noexcept
{
    if (body_ && --body_->refs == 0) FreeBody(body_);
    body_ = nullptr;
}

void MultiprecisionInteger::MakePrivate()
{
    if (!body_ || body_->refs == 1) return;
    Body* copy = NewBody(body_->units);
    std::memcpy(copy->data, body_->data, std::size_t(body_->units) * kUnitBytes);
    Release();
    body_ = copy;
}

int MultiprecisionInteger::GetUnits() const { return body_ ? body_->units : 0; }

// ---- kernel access ----

namespace detail {
const Limb* MultiprecisionAccess::Limbs(const MultiprecisionInteger& v) { return v.body_ ? v.body_->data : nullptr; }

std::size_t MultiprecisionAccess::Count(const MultiprecisionInteger& v)
{
    return std::size_t(v.GetUnits()) * kLimbsPerUnit;
}

MultiprecisionInteger MultiprecisionAccess::Make(std::size_t count, Limb*& limbs)
{
    MultiprecisionInteger v(MultiprecisionInteger::NewBody(std::int64_t(UnitsForLimbs(count))));
    limbs = v.body_ ? v.body_->data : nullptr;
    return v;
}
} // namespace detail

namespace {
typedef detail::MultiprecisionAccess Access;
} // namespace

// ---- in-place operations ----

MultiprecisionInteger& MultiprecisionInteger::AddOrSubtract(const MultiprecisionInteger& b, bool add)
{
    const std::size_t bn = Access::Count(b);
    if (bn == 0) return *this;
    if (!body_) throw ModuleRangeError("invalid operation");
    const std::size_t an = Access::Count(*this);
    if (an < bn) throw ModuleLoaderCommonError("something wrong");
    const MultiprecisionInteger operand(b); // keeps b's limbs alive if b is this
    MakePrivate();
    Limb* a = body_->data;
    const Limb* bl = Access::Limbs(operand);
    const auto add_in = [&] { return limbs::AddCarry(a + bn, a + bn, an - bn, limbs::Add(a, a, bl, bn)); };
    const auto take_out = [&] { return limbs::SubBorrow(a + bn, a + bn, an - bn, limbs::Sub(a, a, bl, bn)); };
    if (add ? add_in() : take_out()) {
        add ? take_out() : add_in(); // undone, so a failed operation leaves the value as it was
        throw ModuleLoaderCommonError("something wrong");
    }
    return *this;
}

MultiprecisionInteger& MultiprecisionInteger::operator+=(const MultiprecisionInteger& b)
{
    return AddOrSubtract(b, true);
}

MultiprecisionInteger& MultiprecisionInteger::operator-=(const MultiprecisionInteger& b)
{
    return AddOrSubtract(b, false);
}

MultiprecisionInteger& MultiprecisionInteger::operator>>=(unsigned bits)
{
    if (!body_ || bits == 0) return *this;
    MakePrivate();
    const std::size_t n = Access::Count(*this);
    const std::size_t whole = std::min<std::size_t>(bits / kLimbBits, n);
    limbs::ShiftRight(body_->data, body_->data, n, bits);
    std::memset(body_->data + n - whole, 0, whole * sizeof(Limb));
    return *this;
}

void MultiprecisionInteger::KeepLowBits(unsigned bits)
{
    if (!body_ || std::size_t(bits) >= Access::Count(*this) * kLimbBits) return;
    MakePrivate();
    limbs::KeepLowBits(body_->data, Access::Count(*this), bits);
}

void MultiprecisionInteger::Trim()
{
    const std::size_t units = UnitsForLimbs(limbs::Significant(Access::Limbs(*this), Access::Count(*this)));
    if (units == std::size_t(GetUnits())) return;
    if (units == 0) {
        Release();
        return;
    }
    MakePrivate();
    body_->units = std::int32_t(units); // the spare units stay allocated
}

void MultiprecisionInteger::Resize(int units)
{
    const std::size_t needed = UnitsForLimbs(limbs::Significant(Access::Limbs(*this), Access::Count(*this)));
    if (units < 0 || std::size_t(units) < needed) throw ModuleOverflowError("length too small");
    if (units == GetUnits()) return;
    Body* resized = NewBody(units);
    if (needed) std::memcpy(resized->data, body_->data, needed * kUnitBytes);
    Release();
    body_ = resized;
}

// ---- operations that make new values ----

MultiprecisionInteger operator+(const MultiprecisionInteger& a, const MultiprecisionInteger& b)
{
    const bool a_longer = Access::Count(a) >= Access::Count(b);
    const MultiprecisionInteger& longer = a_longer ? a : b;
    const MultiprecisionInteger& shorter = a_longer ? b : a;
    const std::size_t ln = Access::Count(longer), sn = Access::Count(shorter);
    Limb* r;
    MultiprecisionInteger sum = Access::Make(ln + 1, r);
    if (r) {
        const Limb* l = Access::Limbs(longer);
        r[ln] = limbs::AddCarry(r + sn, l + sn, ln - sn, limbs::Add(r, l, Access::Limbs(shorter), sn));
    }
    sum.Trim();
    return sum;
}

MultiprecisionInteger operator-(const MultiprecisionInteger& a, const MultiprecisionInteger& b)
{
    const std::size_t an = Access::Count(a), bn = Access::Count(b);
    if (limbs::Compare(Access::Limbs(a), an, Access::Limbs(b), bn) < 0)
        throw ModuleLoaderCommonError("something wrong");
    const std::size_t bs = limbs::Significant(Access::Limbs(b), bn);
    Limb* r;
    MultiprecisionInteger difference = Access::Make(an, r);
    if (r) {
        const Limb* al = Access::Limbs(a);
        limbs::SubBorrow(r + bs, al + bs, an - bs, limbs::Sub(r, al, Access::Limbs(b), bs));
    }
    difference.Trim();
    return difference;
}

MultiprecisionInteger operator*(const MultiprecisionInteger& a, const MultiprecisionInteger& b)
{
    const std::size_t an = limbs::Significant(Access::Limbs(a), Access::Count(a));
    const std::size_t bn = limbs::Significant(Access::Limbs(b), Access::Count(b));
    if (an == 0 || bn == 0) return MultiprecisionInteger();
    Limb* r;
    MultiprecisionInteger product = Access::Make(an + bn, r);
    if (&a == &b)
        limbs::Square(r, Access::Limbs(a), an);
    else
        limbs::Multiply(r, Access::Limbs(a), an, Access::Limbs(b), bn);
    product.Trim();
    return product;
}

// Binary long division, keeping only the remainder: it runs only while a key
// is set up, never per block.
MultiprecisionInteger operator%(const MultiprecisionInteger& a, const MultiprecisionInteger& m)
{
    const Limb* ml = Access::Limbs(m);
    const std::size_t mn = limbs::Significant(ml, Access::Count(m));
    if (mn == 0) throw ModuleOverflowError("devided by zero");
    const Limb* al = Access::Limbs(a);
    const std::size_t an = limbs::Significant(al, Access::Count(a));
    if (limbs::Compare(al, an, ml, mn) < 0) {
        MultiprecisionInteger copy(a);
        copy.Trim();
        return copy;
    }
    std::vector<Limb> r(mn + 1, 0);
    for (std::size_t bit = an * kLimbBits; bit-- > 0;) {
        // r = 2r + next bit of a; r stays below 2m, so one subtraction suffices
        Limb in = (al[bit / kLimbBits] >> (bit % kLimbBits)) & 1;
        for (std::size_t i = 0; i <= mn; ++i) {
            const Limb out = r[i] >> (kLimbBits - 1);
            r[i] = (r[i] << 1) | in;
            in = out;
        }
        if (r[mn] != 0 || limbs::Compare(r.data(), mn, ml, mn) >= 0)
            r[mn] -= limbs::Sub(r.data(), r.data(), ml, mn);
    }
    Limb* out;
    MultiprecisionInteger remainder = Access::Make(mn, out);
    std::memcpy(out, r.data(), mn * sizeof(Limb));
    remainder.Trim();
    return remainder;
}

MultiprecisionInteger MultiprecisionInteger::operator<<(unsigned bits) const
{
    const Limb* a = Access::Limbs(*this);
    const std::size_t an = limbs::Significant(a, Access::Count(*this));
    if (an == 0) return MultiprecisionInteger();
    const std::size_t whole = bits / kLimbBits;
    const unsigned rest = bits % kLimbBits;
    Limb* r;
    MultiprecisionInteger shifted = Access::Make(an + whole + 1, r);
    for (std::size_t i = 0; i < an; ++i) {
        r[i + whole] |= a[i] << rest;
        if (rest) r[i + whole + 1] = a[i] >> (kLimbBits - rest);
    }
    shifted.Trim();
    return shifted;
}

// ---- queries ----

bool MultiprecisionInteger::operator<(const MultiprecisionInteger& b) const
{
    return limbs::Compare(Access::Limbs(*this), Access::Count(*this), Access::Limbs(b), Access::Count(b)) < 0;
}

bool MultiprecisionInteger::IsZero() const
{
    return limbs::Significant(Access::Limbs(*this), Access::Count(*this)) == 0;
}

bool MultiprecisionInteger::GetHighestBit(unsigned& index) const
{
    const std::size_t n = limbs::Significant(Access::Limbs(*this), Access::Count(*this));
    if (n == 0) return false;
    index = unsigned((n - 1) * kLimbBits + (kLimbBits - 1 - __builtin_clzll(body_->data[n - 1])));
    return true;
}

void MultiprecisionInteger::VisitBytes(const ByteVisitor& visit) const
{
    visit(body_ ? body_->data : nullptr, std::size_t(GetUnits()) * kUnitBytes);
}

// ---- elements ----

std::uint8_t* MultiprecisionInteger::ElementAt(std::int64_t byte_index) const
{
    if (!body_) throw ModuleLoaderCommonError("no buffer");
    if (byte_index < 0 || byte_index / std::int64_t(kUnitBytes) >= body_->units) throw ModuleOutOfRange("out of range");
    return reinterpret_cast<std::uint8_t*>(body_->data) + byte_index;
}

namespace {
// Byte offset of element `index` of `size` bytes; -1 (refused by ElementAt)
// for a negative index or one too large to scale.
std::int64_t Offset(std::int64_t index, std::int64_t size)
{
    return index < 0 || index > INT64_MAX / size ? -1 : index * size;
}
} // namespace

bool MultiprecisionInteger::GetBit(std::int64_t index) const
{
    return (*ElementAt(index < 0 ? -1 : index / 8) >> (index % 8)) & 1;
}

std::uint8_t MultiprecisionInteger::GetByte(std::int64_t index) const { return *ElementAt(index); }

std::uint32_t MultiprecisionInteger::GetWord(std::int64_t index) const
{
    std::uint32_t word;
    std::memcpy(&word, ElementAt(Offset(index, 4)), sizeof word);
    return word;
}

void MultiprecisionInteger::SetBit(std::int64_t index, bool bit)
{
    ElementAt(index < 0 ? -1 : index / 8);
    MakePrivate();
    std::uint8_t& byte = *ElementAt(index / 8);
    const std::uint8_t mask = std::uint8_t(1u << (index % 8));
    byte = bit ? byte | mask : byte & ~mask;
}

void MultiprecisionInteger::SetByte(std::int64_t index, std::uint8_t byte)
{
    ElementAt(index);
    MakePrivate();
    *ElementAt(index) = byte;
}

void MultiprecisionInteger::SetWord(std::int64_t index, std::uint32_t word)
{
    ElementAt(Offset(index, 4));
    MakePrivate();
    std::memcpy(ElementAt(index * 4), &word, sizeof word);
}

namespace detail {
bool BitElement::Get(const MultiprecisionInteger& v, std::int64_t i) { return v.GetBit(i); }
void BitElement::Set(MultiprecisionInteger& v, std::int64_t i, bool x) { v.SetBit(i, x); }
std::uint8_t ByteElement::Get(const MultiprecisionInteger& v, std::int64_t i) { return v.GetByte(i); }
void ByteElement::Set(MultiprecisionInteger& v, std::int64_t i, std::uint8_t x) { v.SetByte(i, x); }
std::uint32_t WordElement::Get(const MultiprecisionInteger& v, std::int64_t i) { return v.GetWord(i); }
void WordElement::Set(MultiprecisionInteger& v, std::int64_t i, std::uint32_t x) { v.SetWord(i, x); }
} // namespace detail

} // namespace kw
