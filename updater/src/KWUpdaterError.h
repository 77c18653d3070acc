// Error family of the updater program.
#pragma once

#include <kw/ModuleError.h>

class KW_VISIBLE KWUpdaterErrorBase : public kw::ModuleError {};
class KW_VISIBLE KWUpdaterCommonErrorBase : public KWUpdaterErrorBase {};

KW_DEFINE_ERROR(KWUpdaterCommonError, std::domain_error, KWUpdaterCommonErrorBase);
// Unlike the library family, sits under the common tag class.
KW_DEFINE_ERROR(KWUpdaterBadAllocation, std::bad_alloc, KWUpdaterCommonErrorBase);

// Raise a KWUpdaterCommonError with this source location.
#define KW_FAIL(text, label) KW_RAISE(KWUpdaterCommonError(text), label)
