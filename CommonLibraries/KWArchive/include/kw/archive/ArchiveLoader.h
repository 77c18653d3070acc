// Builds an Archive from an archive byte stream pulled through a source
// function, holding no more than 64 bytes of read-ahead. Every flaw of the
// stream is a false result; the tree built until then stays in the archive.
#pragma once

#include <kw/Pimpl.h>
#include <kw/archive/Archive.h>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

namespace kw {
namespace archive {

class ArchiveLoaderImpl;

class KW_ARCHIVE_API ArchiveLoader
    : private ::kw::pimpl::PimplBase<ArchiveLoaderImpl, ::kw::pimpl::NoAction::Allocator<ArchiveLoaderImpl>,
                                     ::kw::pimpl::NoAction::Deleter<ArchiveLoaderImpl>> {
public:
    // Stores at most the given count of bytes at the address and returns how
    // many it stored; 0 means no more data.
    typedef boost::function<unsigned(void*, unsigned)> Source;

    ArchiveLoader();
    ~ArchiveLoader();

    // True when a complete, well-formed stream was read. The top directory
    // is added to the archive's root under the name "/".
    bool ReadFromStream(Source source);
    // Bytes of the stream consumed so far.
    unsigned GetReadingOffset() const;
    // The archive this loader fills, at any time.
    boost::shared_ptr<Archive> GetBody() const;
};

} // namespace archive
} // namespace kw
