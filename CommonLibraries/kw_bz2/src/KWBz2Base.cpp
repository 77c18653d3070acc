#include "KWBz2Base.h"

#include <boost/make_shared.hpp>

#include <cstring>

namespace kw {
namespace bz2 {

KWBz2Base::KWBz2Base(Bz2AllocateFunction allocate, Bz2ReleaseFunction release, unsigned bufferSize)
    : allocate_(allocate), release_(release), bufferSize_(bufferSize), buffer_(new char[bufferSize])
{
    std::memset(&stream_, 0, sizeof stream_);
    stream_.bzalloc = &KWBz2Base::Allocate;
    stream_.bzfree = &KWBz2Base::Release;
    stream_.opaque = this;
}

KWBz2Base::~KWBz2Base() = default;

void* KWBz2Base::Allocate(void* opaque, int items, int size)
{
    KWBz2Base* self = static_cast<KWBz2Base*>(opaque);
    try {
        const std::uint32_t bytes = static_cast<std::uint32_t>(items) * static_cast<std::uint32_t>(size);
        const boost::shared_ptr<void> block =
            self->allocate_ ? self->allocate_(bytes) : boost::make_shared_noinit<char[]>(bytes);
        if (!block) return nullptr;
        void* address = block.get();
        self->allocations_[address] = block;
        return address;
    } catch (...) {
        // libbz2 is C: it learns of the failure from the null address.
        return nullptr;
    }
}

void KWBz2Base::Release(void* opaque, void* address)
{
    static_cast<KWBz2Base*>(opaque)->allocations_.erase(address);
}

} // namespace bz2
} // namespace kw
