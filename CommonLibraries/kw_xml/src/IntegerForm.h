// The integer a value text spells, if any.
#pragma once

#include <boost/optional.hpp>

#include <string>

namespace kw {
namespace xml {

// The whole text must be one of: 0 or -?[1-9][0-9]* (decimal, none when out
// of the int range); 01?[0-7]{1,10} (octal); 0x[1-7]?[0-9a-f]{1,7} (hex).
boost::optional<int> IntegerForm(const std::string& text);

} // namespace xml
} // namespace kw
