// File content as a singly linked list of blocks of at most 512 bytes.
#pragma once

#include "NodeImpl.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <forward_list>
#include <iosfwd>
#include <string>

namespace kw {
namespace archive {

struct Block {
    static constexpr unsigned Capacity = 512;
    // Set when the source reached its end while the block was filled.
    static constexpr std::uint32_t EndOfInput = 1;

    // A block holding a copy of `size` (at most Capacity) bytes.
    Block(const void* bytes, unsigned size);
    // A block filled by one read of up to Capacity bytes from a disk file.
    explicit Block(std::istream& in);

    std::uint32_t size;
    std::uint32_t flags;
    unsigned char data[Capacity];
};

class FileImpl final : public NodeImpl {
public:
    FileImpl(const FILETIME& created, const FILETIME& modified);
    explicit FileImpl(const std::string& path);

    void Add(const void* data, unsigned size);
    unsigned GetSize() const { return size_; }
    unsigned Write(std::ostream& out) const;

private:
    typedef std::forward_list<boost::shared_ptr<Block>> BlockList;

    void Append(const boost::shared_ptr<Block>& block);

    std::uint32_t size_;
    // A singly linked list with its last element remembered: appending stays
    // constant time and each block costs one pointer less than a double link.
    BlockList blocks_;
    BlockList::iterator last_;
};

} // namespace archive
} // namespace kw
