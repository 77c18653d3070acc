// The function objects that the compressor and decompressor take.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

namespace kw {
namespace bz2 {

// Returns a block of at least the requested size, owned by the pointer.
typedef boost::function<boost::shared_ptr<void>(unsigned)> Bz2AllocateFunction;
// Kept with the object but never called: blocks are freed by their owners.
typedef boost::function<void(void*)> Bz2ReleaseFunction;
// Receives each step's output; the bytes are valid only during the call.
typedef boost::function<void(const void*, unsigned)> Bz2Sink;

} // namespace bz2
} // namespace kw
