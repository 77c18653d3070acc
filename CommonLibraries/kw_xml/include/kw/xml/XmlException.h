// The error family of the XML library.
#pragma once

#include <kw/ModuleError.h>

#include <stdexcept>

namespace kw {
namespace xml {

class KW_VISIBLE XmlExceptionBase : public ::kw::ModuleError {};

KW_DEFINE_ERROR(XmlException, std::domain_error, XmlExceptionBase);

} // namespace xml
} // namespace kw
