// A directory node: named children kept in name order, names compared as
// unsigned bytes. A directory only grows.
#pragma once

#include <kw/Pimpl.h>
#include <kw/archive/Node.h>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

namespace kw {
namespace archive {

class DirectoryImpl;
class File;

class KW_ARCHIVE_API Directory
    : private ::kw::pimpl::PimplBase<DirectoryImpl, ::kw::pimpl::NoAction::Allocator<DirectoryImpl>,
                                     ::kw::pimpl::NoAction::Deleter<DirectoryImpl>>,
      public Node {
public:
    typedef boost::function<bool(const std::string&, const boost::shared_ptr<Node>&)> NodeCallback;
    typedef boost::function<bool(const std::string&, const boost::shared_ptr<Directory>&)> DirectoryCallback;
    typedef boost::function<bool(const std::string&, const boost::shared_ptr<File>&)> FileCallback;

    Directory();
    Directory(const FILETIME& created, const FILETIME& modified);
    ~Directory();

    // False, and nothing changes, when a child of that name exists or the
    // node pointer is empty. Any name is accepted, the empty one included.
    bool AddNode(const std::string& name, const boost::shared_ptr<Node>& node);
    // The child of exactly that name, or an empty pointer.
    boost::shared_ptr<Node> GetChildNode(const std::string& name) const;
    unsigned GetCount() const;

    // Visit the (matching) children in name order; stop and return false as
    // soon as the callback returns false, else return true.
    bool ForeachNode(NodeCallback& callback) const;
    bool ForeachDirectory(DirectoryCallback& callback) const;
    bool ForeachFile(FileCallback& callback) const;

    void SetCreated(const FILETIME& time) override;
    void SetModified(const FILETIME& time) override;
    const FILETIME& GetCreated() const override;
    const FILETIME& GetModified() const override;
    NodeType GetType() const override;

private:
    // Dismantles deep trees without recursion.
    friend class DirectoryImpl;
};

} // namespace archive
} // namespace kw
