// UTF-8 to Shift-JIS (CP932) conversion through an appender.
#pragma once

#include <boost/function.hpp>

#include <string>

namespace kw {

// Appends one character to a string.
struct default_appender {
    void operator()(std::string& out, char c) const { out.push_back(c); }
};

// Converts UTF-8 text to CP932, handing every output byte to `append`.
// Invalid UTF-8, a character without a CP932 form, or a text whose CP932 form
// does not convert back to the same text (U+301C becomes U+FF5E) raises
// std::invalid_argument naming what could not be converted; nothing is
// appended then. Error texts show a text as UTF-8 (as given), never as CP932
// bytes.
void ConvertUtf8ToSjis(const std::string& utf8, std::string& out,
                       const boost::function<void(std::string&, char)>& append = default_appender());

// The reverse direction, for showing CP932 text on a UTF-8 terminal and for
// native file names. Same failure rule: CP932 bytes that convert back to
// other bytes (a character with two codes) are refused too.
std::string ConvertSjisToUtf8(const std::string& sjis);

} // namespace kw
