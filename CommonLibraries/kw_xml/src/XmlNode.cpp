// The node handles: parent links, element children and attributes, texts.
#include "XmlNodeImpl.h"
#include "TextTrim.h"

#include <kw/xml/XmlException.h>

#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>

namespace kw {
namespace xml {

void XmlNodeImpl::AddChild(boost::shared_ptr<XmlNode>& child)
{
    if (const boost::shared_ptr<XmlElement> p = parent.lock()) p->AddChild(child);
}

// --- XmlNode

XmlNode::XmlNode() = default;
XmlNode::XmlNode(XmlNodeImpl* impl) : PimplBase(impl) {}
XmlNode::~XmlNode() = default;

const boost::weak_ptr<XmlElement>& XmlNode::GetParent() const { return holder()->parent; }

XmlNode::NodeType XmlNode::GetType() const { return holder()->type; }

void XmlNode::AddChild(boost::shared_ptr<XmlNode>& child) { holder()->AddChild(child); }

void XmlNode::SetParent(boost::weak_ptr<XmlNode>& node)
{
    for (boost::shared_ptr<XmlNode> walk = node.lock(); walk; walk = walk->GetParent().lock()) {
        if (walk->GetType() != ElementNode) continue;
        if (boost::shared_ptr<XmlElement> element = boost::dynamic_pointer_cast<XmlElement>(walk)) {
            holder()->parent = element;
            return;
        }
    }
    holder()->parent.reset();
}

// --- XmlElement

namespace {

// Calls onElement or onText for one child after checking that its type and
// class agree; shared by the child walk and Optimize.
template <class OnElement, class OnText>
void VisitChild(XmlNode::NodeType type, const boost::shared_ptr<XmlNode>& child, OnElement onElement, OnText onText)
{
    switch (type) {
    case XmlNode::ElementNode: {
        boost::shared_ptr<XmlElement> element = boost::dynamic_pointer_cast<XmlElement>(child);
        if (!element) throw XmlException("bad structure");
        onElement(element);
        break;
    }
    case XmlNode::TextNode: {
        boost::shared_ptr<XmlText> text = boost::dynamic_pointer_cast<XmlText>(child);
        if (!text) throw XmlException("bad structure");
        onText(text);
        break;
    }
    default:
        throw XmlException("unknown type");
    }
}

} // namespace

XmlElement::XmlElement() : XmlNode(new XmlElementImpl(std::string())) {}
XmlElement::XmlElement(const std::string& tagName) : XmlNode(new XmlElementImpl(tagName)) {}

boost::shared_ptr<XmlElementImpl> XmlElement::GetImpl() const
{
    return boost::static_pointer_cast<XmlElementImpl>(GetNodeImpl());
}

void XmlElement::AddChild(boost::shared_ptr<XmlNode>& child) { GetImpl()->AddChild(child); }

const std::string& XmlElement::GetTagName() const
{
    return static_cast<const XmlElementImpl&>(*GetNodeImpl()).tagName;
}

boost::shared_ptr<XmlValue> XmlElement::GetAttribute(const std::string& name) const
{
    const auto& attributes = static_cast<const XmlElementImpl&>(*GetNodeImpl()).attributes;
    const auto it = attributes.find(name);
    return it == attributes.end() ? boost::shared_ptr<XmlValue>() : it->second;
}

int XmlElement::GetAttibutesCount() const
{
    return static_cast<int>(static_cast<const XmlElementImpl&>(*GetNodeImpl()).attributes.size());
}

void XmlElement::ForeachChildren(ElementCallback onElement, TextCallback onText) const
{
    for (const boost::shared_ptr<XmlNode>& child : GetImpl()->children) {
        VisitChild(
            child->GetType(), child, [&](const boost::shared_ptr<XmlElement>& e) { if (onElement) onElement(e); },
            [&](const boost::shared_ptr<XmlText>& t) { if (onText) onText(t); });
    }
}

void XmlElement::ForeachAttribute(AttributeCallback fn) const
{
    for (const auto& attribute : GetImpl()->attributes) fn(attribute.first, attribute.second);
}

void XmlElement::AddAttribute(const std::string& name, const std::string& value)
{
    auto& attributes = GetImpl()->attributes;
    if (attributes.count(name)) return; // the first value of a repeated name stays
    boost::shared_ptr<XmlValue> v(new XmlValue(value));
    v->MakeValue();
    attributes.emplace(name, v);
}

void XmlElement::Optimize()
{
    auto& children = GetImpl()->children;
    for (auto it = children.begin(); it != children.end();) {
        bool remove = false;
        VisitChild(
            (*it)->GetType(), *it, [](const boost::shared_ptr<XmlElement>& e) { e->Optimize(); },
            [&](const boost::shared_ptr<XmlText>& t) { remove = t->Optimize(); });
        it = remove ? children.erase(it) : std::next(it);
    }
}

// --- XmlText

XmlText::XmlText() : XmlNode(new XmlTextImpl(std::string())) {}
XmlText::XmlText(const std::string& text) : XmlNode(new XmlTextImpl(text)) {}

boost::shared_ptr<XmlTextImpl> XmlText::GetImpl() const
{
    return boost::static_pointer_cast<XmlTextImpl>(GetNodeImpl());
}

const std::string& XmlText::GetText() const { return static_cast<const XmlTextImpl&>(*GetNodeImpl()).text; }

void XmlText::append(const std::string& more) { GetImpl()->text += more; }

bool XmlText::Optimize() { return TrimTextLines(GetImpl()->text); }

} // namespace xml
} // namespace kw
