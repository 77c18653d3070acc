#include "IntegerForm.h"

#include <algorithm>
#include <charconv>

namespace kw {
namespace xml {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOctal(char c) { return c >= '0' && c <= '7'; }
bool IsLowerHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// Digits [first, last) all of one class, between 1 and maxDigits of them, or
// one more when the first is a bounded leading digit (low..high): the shapes
// that keep octal and hexadecimal values within 31 bits.
template <class IsClass>
bool FitsShape(const char* first, const char* last, IsClass isClass, std::size_t maxDigits, char low, char high)
{
    const std::size_t n = static_cast<std::size_t>(last - first);
    if (n == 0 || !std::all_of(first, last, isClass)) return false;
    if (n <= maxDigits) return true;
    return n == maxDigits + 1 && *first >= low && *first <= high;
}

boost::optional<int> Convert(const char* first, const char* last, int base)
{
    int value = 0;
    const std::from_chars_result r = std::from_chars(first, last, value, base);
    if (r.ec != std::errc() || r.ptr != last) return boost::none;
    return value;
}

bool IsDecimal(const std::string& s)
{
    if (s == "0") return true;
    std::size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i >= s.size() || s[i] < '1' || s[i] > '9') return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(i), s.end(), IsDigit);
}

} // namespace

boost::optional<int> IntegerForm(const std::string& text)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (IsDecimal(text)) return Convert(begin, end, 10);
    if (text.size() >= 2 && text[0] == '0' && FitsShape(begin + 1, end, IsOctal, 10, '1', '1'))
        return Convert(begin + 1, end, 8);
    if (text.size() >= 3 && text[0] == '0' && text[1] == 'x' && FitsShape(begin + 2, end, IsLowerHex, 7, '1', '7'))
        return Convert(begin + 2, end, 16);
    return boost::none;
}

} // namespace xml
} // namespace kw
