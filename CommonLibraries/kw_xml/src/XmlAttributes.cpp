#include <kw/xml/XmlWriter.h>

#include <map>

namespace kw {
namespace xml {

class XmlAttributesImpl {
public:
    // Byte-wise name order; equal names stay in insertion order.
    std::multimap<std::string, std::string> attributes;
};

XmlAttributes::XmlAttributes() { install(); }
XmlAttributes::~XmlAttributes() = default;

void XmlAttributes::AddAttribute(const std::string& name, const std::string& value)
{
    auto& attributes = holder()->attributes;
    attributes.emplace_hint(attributes.upper_bound(name), name, value);
}

void XmlAttributes::AddAttribute(const std::string& name, int value) { AddAttribute(name, std::to_string(value)); }

void XmlAttributes::ForeachAttributes(Callback fn) const
{
    for (const auto& attribute : holder()->attributes) fn(attribute.first, attribute.second);
}

} // namespace xml
} // namespace kw
