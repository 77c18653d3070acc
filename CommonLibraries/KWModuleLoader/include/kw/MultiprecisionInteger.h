// Non-negative integers of any size, held in 128-bit units.
//
// The units sit in one 16-byte aligned array in ascending significance, so the
// array read as bytes is the number in little-endian byte order. Copies share
// one body (units, a plain reference count, the array) and a value that is
// about to change makes its body private first. Values stay in one thread.
//
// Results of operations that make a new value are trimmed to the fewest units
// that hold them (zero has no units and no storage). Values made from bytes
// keep ceil(length / 16) units, and the in-place operations work within the
// units the destination already has: size it first with Resize.
#pragma once

#include <kw/ModuleLoaderError.h>

#include <boost/function.hpp>

#include <cstddef>
#include <cstdint>

namespace kw {

class MultiprecisionInteger;

namespace detail {
struct MultiprecisionAccess;

struct BitElement {
    typedef bool value_type;
    static value_type Get(const MultiprecisionInteger& v, std::int64_t i);
    static void Set(MultiprecisionInteger& v, std::int64_t i, value_type x);
};
struct ByteElement {
    typedef std::uint8_t value_type;
    static value_type Get(const MultiprecisionInteger& v, std::int64_t i);
    static void Set(MultiprecisionInteger& v, std::int64_t i, value_type x);
};
struct WordElement {
    typedef std::uint32_t value_type;
    static value_type Get(const MultiprecisionInteger& v, std::int64_t i);
    static void Set(MultiprecisionInteger& v, std::int64_t i, value_type x);
};
} // namespace detail

// Reads or writes one bit, byte or 32-bit word of a value. An index beyond
// the value's units (or negative) raises "out of range"; a reference made
// without a value raises "invalid reference" when used.
template <class Element>
class ElementReference {
public:
    typedef typename Element::value_type value_type;

    ElementReference() : owner_(nullptr), index_(0) {}
    ElementReference(MultiprecisionInteger& owner, std::int64_t index) : owner_(&owner), index_(index) {}
    ElementReference(const ElementReference&) = default;

    operator value_type() const { return Element::Get(Owner(), index_); }
    ElementReference& operator=(value_type x)
    {
        Element::Set(Owner(), index_, x);
        return *this;
    }
    // Assigning one reference to another copies the element, not the binding.
    ElementReference& operator=(const ElementReference& other) { return *this = static_cast<value_type>(other); }

private:
    MultiprecisionInteger& Owner() const
    {
        if (!owner_) throw ModuleLoaderCommonError("invalid reference");
        return *owner_;
    }

    MultiprecisionInteger* owner_;
    std::int64_t index_;
};

typedef ElementReference<detail::BitElement> BitReference;
typedef ElementReference<detail::ByteElement> ByteReference;
typedef ElementReference<detail::WordElement> WordReference;

class MultiprecisionInteger {
public:
    typedef boost::function<void(const void*, std::size_t)> ByteVisitor;

    // Zero, without storage.
    MultiprecisionInteger() noexcept : body_(nullptr) {}
    // The little-endian number in bytes[0, length): ceil(length / 16) units.
    MultiprecisionInteger(const void* bytes, std::size_t length);
    // Zero with the given number of units.
    static MultiprecisionInteger WithUnits(int units);
    // 65537, the usual public exponent, in one unit.
    static MultiprecisionInteger F4();

    MultiprecisionInteger(const MultiprecisionInteger& other) noexcept;
    MultiprecisionInteger(MultiprecisionInteger&& other) noexcept : body_(other.body_) { other.body_ = nullptr; }
    MultiprecisionInteger& operator=(const MultiprecisionInteger& other) noexcept;
    MultiprecisionInteger& operator=(MultiprecisionInteger&& other) noexcept;
    ~MultiprecisionInteger();

    int GetUnits() const;

    // In place, within this value's units: "invalid operation" when this has
    // no units and the operand has some; "something wrong" when the operand
    // has more units, or the carry or borrow leaves the top unit (the value is
    // then left as it was).
    MultiprecisionInteger& operator+=(const MultiprecisionInteger& b);
    MultiprecisionInteger& operator-=(const MultiprecisionInteger& b);
    // In place, keeping the units.
    MultiprecisionInteger& operator>>=(unsigned bits);
    // This value mod 2^bits, in place, keeping the units.
    void KeepLowBits(unsigned bits);
    // Drops high units that are zero.
    void Trim();
    // Changes the number of units keeping the value; fewer units than the
    // value needs raise "length too small".
    void Resize(int units);

    friend MultiprecisionInteger operator+(const MultiprecisionInteger& a, const MultiprecisionInteger& b);
    // "something wrong" when b > a: there are no negative values.
    friend MultiprecisionInteger operator-(const MultiprecisionInteger& a, const MultiprecisionInteger& b);
    friend MultiprecisionInteger operator*(const MultiprecisionInteger& a, const MultiprecisionInteger& b);
    // "devided by zero" when m is zero.
    friend MultiprecisionInteger operator%(const MultiprecisionInteger& a, const MultiprecisionInteger& m);
    MultiprecisionInteger operator<<(unsigned bits) const;

    bool operator<(const MultiprecisionInteger& b) const;
    bool IsZero() const;
    // False for zero; otherwise true with the index of the highest set bit.
    bool GetHighestBit(unsigned& index) const;

    bool GetBit(std::int64_t index) const;
    std::uint8_t GetByte(std::int64_t index) const;
    std::uint32_t GetWord(std::int64_t index) const;
    void SetBit(std::int64_t index, bool bit);
    void SetByte(std::int64_t index, std::uint8_t byte);
    void SetWord(std::int64_t index, std::uint32_t word);
    BitReference Bit(std::int64_t index) { return BitReference(*this, index); }
    ByteReference Byte(std::int64_t index) { return ByteReference(*this, index); }
    WordReference Word(std::int64_t index) { return WordReference(*this, index); }

    // Calls visit(pointer to the unit array, units * 16); (nullptr, 0) for a
    // value without storage.
    void VisitBytes(const ByteVisitor& visit) const;

private:
    friend struct detail::MultiprecisionAccess;
    struct Body;

    // A body of `units` zero units in one 16-byte aligned allocation; none for zero units.
    static Body* NewBody(std::int64_t units);
    static void FreeBody(Body* body) noexcept;
    explicit MultiprecisionInteger(Body* body) noexcept : body_(body) {}
    void Release() noexcept;
    // Makes the body private to this value before a change.
    void MakePrivate();
    MultiprecisionInteger& AddOrSubtract(const MultiprecisionInteger& b, bool add);
    // The unit array for element access at byte offset byte_index.
    std::uint8_t* ElementAt(std::int64_t byte_index) const;

    Body* body_;
};

} // namespace kw
