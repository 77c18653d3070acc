// Building the tree from parser events, and the document's own operations.
#include "XmlNodeImpl.h"

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlException.h>

#include <boost/pointer_cast.hpp>

namespace kw {
namespace xml {

XmlDocument::XmlDocument() : completed(false) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::IsCompleted() const { return completed; }

const boost::shared_ptr<XmlElement> XmlDocument::GetRootElement() const
{
    if (!completed) throw XmlException("not completed");
    return root;
}

void XmlDocument::Optimize()
{
    if (!completed) throw XmlException("not completed");
    if (!root) throw XmlException("root element not exist");
    root->Optimize();
}

void XmlDocument::CreateNewElement(const std::string& tagName)
{
    boost::shared_ptr<XmlNode> element(new XmlElement(tagName));
    if (current) {
        // A current text node hands the element to its parent: it becomes
        // the text's next sibling.
        current->AddChild(element);
        boost::weak_ptr<XmlNode> from(current);
        element->SetParent(from);
    } else {
        root = boost::static_pointer_cast<XmlElement>(element);
    }
    current = element;
}

boost::shared_ptr<XmlElement> XmlDocument::GetCurrentElement()
{
    boost::shared_ptr<XmlNode> walk = current;
    while (walk && walk->GetType() != XmlNode::ElementNode) walk = walk->GetParent().lock();
    boost::shared_ptr<XmlElement> element = boost::dynamic_pointer_cast<XmlElement>(walk);
    if (!element) throw XmlException("bad structure");
    current = element;
    return element;
}

void XmlDocument::AddElement(const std::string& tagName, const std::map<const char*, const char*>& attributes)
{
    if (root && !current) throw XmlException("finished document");
    CreateNewElement(tagName);
    const boost::shared_ptr<XmlElement> element = GetCurrentElement();
    for (const auto& attribute : attributes) element->AddAttribute(attribute.first, attribute.second);
}

void XmlDocument::AddCharacterData(const std::string& text)
{
    if (!current) throw XmlException("unknown type");
    if (current->GetType() == XmlNode::TextNode) {
        boost::static_pointer_cast<XmlText>(current)->append(text);
        return;
    }
    const boost::shared_ptr<XmlElement> element = boost::static_pointer_cast<XmlElement>(current);
    boost::shared_ptr<XmlNode> node(new XmlText(text));
    element->AddChild(node);
    boost::weak_ptr<XmlNode> from(current);
    node->SetParent(from);
    current = node;
}

void XmlDocument::EndElement(const std::string& tagName)
{
    boost::shared_ptr<XmlElement> element = GetCurrentElement();
    while (element && element->GetTagName() != tagName) element = element->GetParent().lock();
    if (!element) throw XmlException("bad structure");
    current = element->GetParent().lock();
}

void XmlDocument::Complete() { completed = true; }

} // namespace xml
} // namespace kw
