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
// Invalid UTF-8 or a character without a CP932 form raises
// std::invalid_argument naming what could not be converted.
void ConvertUtf8ToSjis(const std::string& utf8, std::string& out,
                       const boost::function<void(std::string&, char)>& append = default_appender());

// The reverse direction, for showing CP932 text on a UTF-8 terminal and for
// native file names. Same failure rule.
std::string ConvertSjisToUtf8(const std::string& sjis);

} // namespace kw
