#include "ConversionError.h"

namespace kw {
namespace detail {

std::invalid_argument ConversionError(const std::string& input, const char* from_name, const char* to_name,
                                      bool incomplete, std::size_t offset)
{
    return std::invalid_argument(std::string("cannot convert \"") + (to_name[0] == 'U' ? "" : input) + "\" from " +
                                 from_name + " to " + to_name + ": " +
                                 (incomplete ? "incomplete sequence" : "no such character or invalid sequence") +
                                 " at byte " + std::to_string(offset));
}

} // namespace detail
} // namespace kw
