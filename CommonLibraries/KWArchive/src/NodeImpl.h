// The state every node has: its type, fixed at construction, and the two
// timestamps, stored and returned without interpretation.
#pragma once

#include <kw/archive/Node.h>

namespace kw {
namespace archive {

class NodeImpl : public NodeIf {
public:
    NodeImpl(NodeType type, const FILETIME& created, const FILETIME& modified)
        : type_(type), created_(created), modified_(modified) {}

    void SetCreated(const FILETIME& time) override { created_ = time; }
    void SetModified(const FILETIME& time) override { modified_ = time; }
    const FILETIME& GetCreated() const override { return created_; }
    const FILETIME& GetModified() const override { return modified_; }
    NodeType GetType() const override { return type_; }

    static const FILETIME& Zero()
    {
        static const FILETIME zero = {0, 0};
        return zero;
    }

protected:
    ~NodeImpl() {}

private:
    NodeType type_;
    FILETIME created_;
    FILETIME modified_;
};

} // namespace archive
} // namespace kw

// The handle classes forward the five node operations to their implementation.
#define KW_ARCHIVE_FORWARD_NODE_OPERATIONS(Class)                                         \
    void Class::SetCreated(const FILETIME& time) { holder()->SetCreated(time); }          \
    void Class::SetModified(const FILETIME& time) { holder()->SetModified(time); }        \
    const FILETIME& Class::GetCreated() const { return holder()->GetCreated(); }          \
    const FILETIME& Class::GetModified() const { return holder()->GetModified(); }        \
    NodeType Class::GetType() const { return holder()->GetType(); }
