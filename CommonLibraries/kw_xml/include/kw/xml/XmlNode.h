// The nodes of a document tree and attribute values. Every class is a thin
// handle over an implementation object made inside the library; copies of a
// handle share it. Only the library creates nodes and values.
#pragma once

#include <kw/Pimpl.h>
#include <kw/xml/XmlExport.h>

#include <boost/function.hpp>
#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <string>

namespace kw {
namespace xml {

class XmlDocument;
class XmlElement;
class XmlText;
class XmlNodeImpl;
class XmlElementImpl;
class XmlTextImpl;
class XmlValueImpl;

class KW_XML_API XmlValue : private kw::pimpl::PimplBase<XmlValueImpl, kw::pimpl::NoAction::Allocator<XmlValueImpl>,
                                                         kw::pimpl::NoAction::Deleter<XmlValueImpl>> {
public:
    // The attribute text as the parser delivered it (entities resolved).
    const std::string& GetText() const;
    // Whether the text spells an integer (decimal, octal 0..., hex 0x...).
    bool HasValue() const;
    boost::optional<int> GetValue() const;
    int GetValue(int defaultValue) const;

private:
    friend class XmlDocument;
    friend class XmlElement;
    XmlValue();
    explicit XmlValue(const std::string& text);
    // Computes the integer form from the text.
    void MakeValue();
};

class KW_XML_API XmlNode : private kw::pimpl::PimplBase<XmlNodeImpl, kw::pimpl::NoAction::Allocator<XmlNodeImpl>,
                                                        kw::pimpl::NoAction::Deleter<XmlNodeImpl>> {
public:
    enum NodeType { ElementNode = 0, TextNode = 1 };

    virtual ~XmlNode();
    const boost::weak_ptr<XmlElement>& GetParent() const;

private:
    friend class XmlDocument;
    friend class XmlElement;
    friend class XmlText;
    friend class XmlNodeImpl;

    XmlNode();
    explicit XmlNode(XmlNodeImpl* impl);

    virtual void AddChild(boost::shared_ptr<XmlNode>& child);
    NodeType GetType() const;
    // The parent becomes the nearest element among node and its ancestors.
    void SetParent(boost::weak_ptr<XmlNode>& node);
    const boost::shared_ptr<XmlNodeImpl>& GetNodeImpl() const { return holder(); }
};

class KW_XML_API XmlElement : public XmlNode {
public:
    typedef boost::function<void(const boost::shared_ptr<XmlElement>&)> ElementCallback;
    typedef boost::function<void(const boost::shared_ptr<XmlText>&)> TextCallback;
    typedef boost::function<void(const std::string&, const boost::shared_ptr<XmlValue>&)> AttributeCallback;

    const std::string& GetTagName() const;
    // The value of attribute `name`, or an empty pointer when absent.
    boost::shared_ptr<XmlValue> GetAttribute(const std::string& name) const;
    int GetAttibutesCount() const;
    // Children in document order; an empty callback skips that kind.
    void ForeachChildren(ElementCallback onElement, TextCallback onText) const;
    // Attributes in byte-wise name order.
    void ForeachAttribute(AttributeCallback fn) const;

private:
    friend class XmlDocument;
    friend class XmlNodeImpl;

    XmlElement();
    explicit XmlElement(const std::string& tagName);
    void AddChild(boost::shared_ptr<XmlNode>& child) override;
    // A name already present keeps its first value.
    void AddAttribute(const std::string& name, const std::string& value);
    void Optimize();
    boost::shared_ptr<XmlElementImpl> GetImpl() const;
};

class KW_XML_API XmlText : public XmlNode {
public:
    const std::string& GetText() const;

private:
    friend class XmlDocument;
    friend class XmlElement;

    XmlText();
    explicit XmlText(const std::string& text);
    void append(const std::string& more);
    // Trims the text line by line; true when the node is to be removed.
    bool Optimize();
    boost::shared_ptr<XmlTextImpl> GetImpl() const;
};

} // namespace xml
} // namespace kw
