// The node interface shared by directories and files: a type and two Windows
// timestamps. Nodes are never copied; shared pointers to Node are passed
// around instead.
#pragma once

#include <kw/FileTime.h>
#include <kw/archive/ArchiveExport.h>

#include <boost/noncopyable.hpp>

#include <cstdint>

namespace kw {
namespace archive {

enum NodeType : std::uint32_t {
    NodeDirectory = 1,
    NodeFile = 2,
};

class KW_ARCHIVE_API NodeIf : private boost::noncopyable {
public:
    // Not virtual: every node is created through a shared pointer made for
    // its concrete class, which destroys it as that class.
    ~NodeIf() {}

    virtual void SetCreated(const FILETIME& time) = 0;
    virtual void SetModified(const FILETIME& time) = 0;
    virtual const FILETIME& GetCreated() const = 0;
    virtual const FILETIME& GetModified() const = 0;
    virtual NodeType GetType() const = 0;

protected:
    NodeIf() {}
};

class KW_ARCHIVE_API Node : public NodeIf {
public:
    ~Node() {}

protected:
    Node() {}
};

} // namespace archive
} // namespace kw
