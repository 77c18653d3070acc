// Implementation objects behind the node and value handles (not exported).
#pragma once

#include <kw/xml/XmlNode.h>

#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <list>
#include <map>
#include <string>

namespace kw {
namespace xml {

class XmlNodeImpl {
public:
    explicit XmlNodeImpl(XmlNode::NodeType t) : type(t) {}
    virtual ~XmlNodeImpl() = default;
    // A node that is not an element hands new children to its parent.
    virtual void AddChild(boost::shared_ptr<XmlNode>& child);

    XmlNode::NodeType type;
    boost::weak_ptr<XmlElement> parent;
};

class XmlElementImpl : public XmlNodeImpl {
public:
    explicit XmlElementImpl(const std::string& tag) : XmlNodeImpl(XmlNode::ElementNode), tagName(tag) {}
    void AddChild(boost::shared_ptr<XmlNode>& child) override { children.push_back(child); }

    std::string tagName;
    std::map<std::string, boost::shared_ptr<XmlValue>> attributes;
    std::list<boost::shared_ptr<XmlNode>> children;
};

class XmlTextImpl : public XmlNodeImpl {
public:
    explicit XmlTextImpl(const std::string& t) : XmlNodeImpl(XmlNode::TextNode), text(t) {}

    std::string text;
};

class XmlValueImpl {
public:
    explicit XmlValueImpl(const std::string& t) : text(t) {}

    std::string text;
    boost::optional<int> value;
};

} // namespace xml
} // namespace kw
