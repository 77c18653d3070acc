// Error family of the big-integer and RSA code.
#pragma once

#include <kw/ModuleError.h>

namespace kw {

class KW_VISIBLE ModuleLoaderErrorBase : public ModuleError {};
class KW_VISIBLE ModuleLoaderCommonErrorBase : public ModuleLoaderErrorBase {};
class KW_VISIBLE ModuleOverflowErrorBase : public ModuleLoaderErrorBase {};
class KW_VISIBLE ModuleOutOfRangeBase : public ModuleLoaderErrorBase {};
class KW_VISIBLE ModuleRangeErrorBase : public ModuleLoaderErrorBase {};

KW_DEFINE_ERROR(ModuleLoaderCommonError, std::domain_error, ModuleLoaderCommonErrorBase);
KW_DEFINE_ERROR(ModuleOverflowError, std::overflow_error, ModuleOverflowErrorBase);
KW_DEFINE_ERROR(ModuleOutOfRange, std::out_of_range, ModuleOutOfRangeBase);
KW_DEFINE_ERROR(ModuleRangeError, std::range_error, ModuleRangeErrorBase);
// Derives from the family base directly, not from the common tag.
KW_DEFINE_ERROR(ModuleLoaderBadAllocation, std::bad_alloc, ModuleLoaderErrorBase);

} // namespace kw
