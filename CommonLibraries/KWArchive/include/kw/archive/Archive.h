// An archive: a root directory with zero timestamps. Copies share one root.
#pragma once

#include <kw/Pimpl.h>
#include <kw/archive/Directory.h>

namespace kw {
namespace archive {

class ArchiveImpl;

class KW_ARCHIVE_API Archive
    : private ::kw::pimpl::PimplBase<ArchiveImpl, ::kw::pimpl::NoAction::Allocator<ArchiveImpl>,
                                     ::kw::pimpl::NoAction::Deleter<ArchiveImpl>> {
public:
    Archive();
    ~Archive();
    Archive(const Archive&) = default;
    Archive& operator=(const Archive&) = default;

    Directory& GetRoot();
};

} // namespace archive
} // namespace kw
