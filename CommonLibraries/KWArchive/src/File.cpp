#include "FileImpl.h"

#include <kw/archive/ArchiveError.h>
#include <kw/archive/File.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <ostream>

namespace kw {
namespace archive {

Block::Block(const void* bytes, unsigned count) : size(count), flags(0)
{
    std::memcpy(data, bytes, count);
    std::memset(data + count, 0, Capacity - count);
}

Block::Block(std::istream& in) : size(0), flags(0)
{
    in.read(reinterpret_cast<char*>(data), Capacity);
    size = static_cast<std::uint32_t>(in.gcount());
    std::memset(data + size, 0, Capacity - size);
    if (in.eof()) {
        flags |= EndOfInput;
    } else if (in.fail()) {
        KW_RAISE(ArchiveCommonError("cannot load from file"), "kw::archive::Block::Block");
    }
}

FileImpl::FileImpl(const FILETIME& created, const FILETIME& modified)
    : NodeImpl(NodeFile, created, modified), size_(0), last_(blocks_.before_begin())
{
}

FileImpl::FileImpl(const std::string& path)
    : NodeImpl(NodeFile, Zero(), Zero()), size_(0), last_(blocks_.before_begin())
{
    std::ifstream in(path.c_str(), std::ios::in | std::ios::binary);
    if (!in.is_open()) KW_RAISE(ArchiveCommonError("cannot load from file"), "kw::archive::FileImpl::FileImpl");
    while (!in.eof()) {
        const boost::shared_ptr<Block> block = boost::make_shared<Block>(in);
        Append(block);
        if (block->flags & Block::EndOfInput) break;
    }
}

void FileImpl::Append(const boost::shared_ptr<Block>& block)
{
    last_ = blocks_.insert_after(last_, block);
    size_ += block->size;
}

void FileImpl::Add(const void* data, unsigned size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const unsigned piece = std::min(size, Block::Capacity);
        Append(boost::make_shared<Block>(bytes, piece));
        bytes += piece;
        size -= piece;
    }
}

unsigned FileImpl::Write(std::ostream& out) const
{
    unsigned written = 0;
    for (const boost::shared_ptr<Block>& block : blocks_) {
        if (block->size == 0) continue;
        out.write(reinterpret_cast<const char*>(block->data), block->size);
        if (out.fail()) break;
        written += block->size;
    }
    return written;
}

File::File() { install(NodeImpl::Zero(), NodeImpl::Zero()); }

File::File(const FILETIME& created, const FILETIME& modified) { install(created, modified); }

File::File(const std::string& path) { install(path); }

File::~File() {}

void File::Add(const void* data, unsigned size) { holder()->Add(data, size); }

unsigned File::GetSize() const { return holder()->GetSize(); }

unsigned File::Write(std::ostream& out) const { return holder()->Write(out); }

KW_ARCHIVE_FORWARD_NODE_OPERATIONS(File)

} // namespace archive
} // namespace kw
