#include "DirectoryImpl.h"

#include <kw/archive/File.h>

#include <boost/pointer_cast.hpp>

#include <utility>
#include <vector>

namespace kw {
namespace archive {

// Releasing a child table the plain way would recurse once per level of
// nesting. Instead the children of every directory that is about to die with
// this one are moved to a work list first, so each node is released with an
// empty table. Nodes that someone else still holds are only dereferenced.
DirectoryImpl::~DirectoryImpl()
{
    std::vector<boost::shared_ptr<Node>> work;
    auto take_children = [&work](ChildTable& table) {
        for (auto& child : table) {
            try {
                work.push_back(std::move(child.second));
            } catch (...) {
                // Out of memory: this child is released in place below.
            }
        }
        table.clear();
    };
    take_children(children_);
    while (!work.empty()) {
        boost::shared_ptr<Node> node = std::move(work.back());
        work.pop_back();
        if (node.use_count() != 1 || node->GetType() != NodeDirectory) continue;
        Directory* directory = dynamic_cast<Directory*>(node.get());
        if (directory && directory->holder().use_count() == 1) take_children(directory->holder()->children_);
    }
}

bool DirectoryImpl::AddNode(const std::string& name, const boost::shared_ptr<Node>& node)
{
    return node && children_.emplace(name, node).second;
}

boost::shared_ptr<Node> DirectoryImpl::GetChildNode(const std::string& name) const
{
    const ChildTable::const_iterator found = children_.find(name);
    return found == children_.end() ? boost::shared_ptr<Node>() : found->second;
}

bool DirectoryImpl::ForeachNode(Directory::NodeCallback& callback) const
{
    for (const auto& child : children_) {
        if (!callback(child.first, child.second)) return false;
    }
    return true;
}

// The type is asked first; the cast then guards against a foreign node class
// that claims a type it does not have.
template <class Typed>
bool DirectoryImpl::ForeachOfType(NodeType type,
                                  boost::function<bool(const std::string&, const boost::shared_ptr<Typed>&)>& callback) const
{
    for (const auto& child : children_) {
        if (child.second->GetType() != type) continue;
        const boost::shared_ptr<Typed> typed = boost::dynamic_pointer_cast<Typed>(child.second);
        if (typed && !callback(child.first, typed)) return false;
    }
    return true;
}

Directory::Directory() { install(NodeImpl::Zero(), NodeImpl::Zero()); }

Directory::Directory(const FILETIME& created, const FILETIME& modified) { install(created, modified); }

Directory::~Directory() {}

bool Directory::AddNode(const std::string& name, const boost::shared_ptr<Node>& node)
{
    return holder()->AddNode(name, node);
}

boost::shared_ptr<Node> Directory::GetChildNode(const std::string& name) const { return holder()->GetChildNode(name); }

unsigned Directory::GetCount() const { return holder()->GetCount(); }

bool Directory::ForeachNode(NodeCallback& callback) const { return holder()->ForeachNode(callback); }

bool Directory::ForeachDirectory(DirectoryCallback& callback) const
{
    return holder()->ForeachOfType<Directory>(NodeDirectory, callback);
}

bool Directory::ForeachFile(FileCallback& callback) const { return holder()->ForeachOfType<File>(NodeFile, callback); }

KW_ARCHIVE_FORWARD_NODE_OPERATIONS(Directory)

} // namespace archive
} // namespace kw
