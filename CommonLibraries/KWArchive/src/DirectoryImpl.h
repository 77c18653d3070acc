// The child table of a directory and the iterations over it.
#pragma once

#include "NodeImpl.h"

#include <kw/archive/Directory.h>

#include <boost/shared_ptr.hpp>

#include <map>
#include <string>

namespace kw {
namespace archive {

class DirectoryImpl final : public NodeImpl {
public:
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values; a prefix sorts before its extensions.
    typedef std::map<std::string, boost::shared_ptr<Node>> ChildTable;

    DirectoryImpl(const FILETIME& created, const FILETIME& modified)
        : NodeImpl(NodeDirectory, created, modified) {}
    ~DirectoryImpl();

    bool AddNode(const std::string& name, const boost::shared_ptr<Node>& node);
    boost::shared_ptr<Node> GetChildNode(const std::string& name) const;
    unsigned GetCount() const { return static_cast<unsigned>(children_.size()); }

    bool ForeachNode(Directory::NodeCallback& callback) const;
    template <class Typed>
    bool ForeachOfType(NodeType type, boost::function<bool(const std::string&, const boost::shared_ptr<Typed>&)>& callback) const;

private:
    ChildTable children_;
};

} // namespace archive
} // namespace kw
