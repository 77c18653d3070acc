// The one parser of the archive stream format: prologue, node records with
// their directory entries or file content, at the offsets the entries
// announce. Its records go to an ArchiveVisitor; how bytes are pulled from
// the source is the reader's business.
#pragma once

#include <kw/archive/ArchiveVisitor.h>

#include <cstdint>

namespace kw {
namespace archive {

class StreamReader {
public:
    virtual ~StreamReader() {}
    // Copies up to `count` bytes; fewer means the stream ended.
    virtual unsigned Read(void* destination, unsigned count) = 0;
    // Bytes handed out so far.
    virtual std::uint64_t Offset() const = 0;
};

// False for any flaw of the stream, or when the visitor stops. File content
// goes to the visitor in pieces of at most `piece` bytes.
bool ParseArchiveStream(StreamReader& reader, ArchiveVisitor& visitor, unsigned piece);

} // namespace archive
} // namespace kw
