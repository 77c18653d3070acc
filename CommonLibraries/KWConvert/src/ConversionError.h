// The one error text of a failed conversion, the same on every system.
#pragma once

#include <cstddef>
#include <stdexcept>

#include <string>

namespace kw {
namespace detail {

// The input is named only when it is UTF-8 (CP932 bytes would not show).
std::invalid_argument ConversionError(const std::string& input, const char* from_name, const char* to_name,
                                      bool incomplete, std::size_t offset);

} // namespace detail
} // namespace kw
