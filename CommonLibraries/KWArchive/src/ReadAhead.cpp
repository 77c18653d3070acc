#include "ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace kw {
namespace archive {

unsigned ReadAhead::Pull(ArchiveLoader::Source& source, unsigned char* at, unsigned capacity)
{
    // A source that claims more than it was allowed to store must not make
    // us read past the buffer.
    return std::min(source(at, capacity), capacity);
}

unsigned ReadAhead::Read(ArchiveLoader::Source& source, void* destination, unsigned count)
{
    unsigned char* out = static_cast<unsigned char*>(destination);
    unsigned delivered = 0;
    while (delivered < count) {
        const unsigned needed = count - delivered;
        if (needed > buffered_) {
            std::memcpy(out + delivered, buffer_, buffered_);
            delivered += buffered_;
            buffered_ = Pull(source, buffer_, Capacity);
        } else {
            std::memcpy(out + delivered, buffer_, needed);
            delivered += needed;
            std::memmove(buffer_, buffer_ + needed, buffered_ - needed);
            buffered_ -= needed;
            buffered_ += Pull(source, buffer_ + buffered_, Capacity - buffered_);
        }
        if (buffered_ == 0) break;
    }
    offset_ += delivered;
    return delivered;
}

} // namespace archive
} // namespace kw
