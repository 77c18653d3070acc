// Error family of the archive library. Only a disk file that cannot be read
// raises it; flaws of an archive stream are a false result of the loader.
#pragma once

#include <kw/ModuleError.h>

namespace kw {
namespace archive {

class KW_VISIBLE ArchiveErrorBase : public ::kw::ModuleError {};
class KW_VISIBLE ArchiveCommonErrorBase : public ArchiveErrorBase {};

KW_DEFINE_ERROR(ArchiveCommonError, std::domain_error, ArchiveCommonErrorBase);

} // namespace archive
} // namespace kw
