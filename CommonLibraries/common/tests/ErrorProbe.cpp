#include "ErrorProbe.h"

#include <kw/ModuleError.h>

namespace {
class ProbeErrorBase : public kw::ModuleError {};
KW_DEFINE_ERROR(ProbeError, std::runtime_error, ProbeErrorBase);
} // namespace

void kw_probe_throw_located()
{
    KW_RAISE(ProbeError("thrown inside the probe"), "probe");
}
