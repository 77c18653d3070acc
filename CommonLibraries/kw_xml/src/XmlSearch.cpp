// Search expressions: value, key and element conditions and the selection.
#include "XmlNodeImpl.h"

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlException.h>
#include <kw/xml/XmlSearch.h>

#include <boost/xpressive/xpressive_dynamic.hpp>

#include <list>

namespace kw {
namespace xml {

class XmlIfValueImpl {
public:
    boost::optional<std::string> text;
    boost::optional<int> number;
    XmlIfValue::Predicate predicate;

    bool Match(const boost::shared_ptr<XmlValue>& v) const
    {
        if (predicate) return predicate(v);
        if (text) return v->GetText() == *text;
        if (!number) return true;
        const boost::optional<int> value = v->GetValue();
        return value && *value == *number;
    }
};

class XmlSearchStatusImpl {
public:
    std::list<boost::shared_ptr<XmlElement>> elements;
};

namespace {

// Compiled anew for every value tested: a pattern is usually tried on a few
// values only. An unanchored search, like Perl's m//.
bool RegexSearch(const std::string& pattern, const boost::shared_ptr<XmlValue>& v)
{
    const boost::xpressive::sregex re = boost::xpressive::sregex::compile(pattern);
    return boost::xpressive::regex_search(v->GetText(), re);
}

} // namespace

// --- XmlIfValue

XmlIfValue::XmlIfValue() : PimplBase(new XmlIfValueImpl) {}
XmlIfValue::XmlIfValue(const std::string& text) : XmlIfValue() { holder()->text = text; }
XmlIfValue::XmlIfValue(const char* text) : XmlIfValue(std::string(text)) {}
XmlIfValue::XmlIfValue(int number) : XmlIfValue() { holder()->number = number; }
XmlIfValue::XmlIfValue(Predicate predicate) : XmlIfValue() { holder()->predicate = predicate; }

XmlIfValue& XmlIfValue::operator~()
{
    if (!holder()->text) throw XmlException("regular expression without string");
    const std::string pattern = *holder()->text;
    holder()->predicate = [pattern](boost::shared_ptr<XmlValue> v) { return RegexSearch(pattern, v); };
    return *this;
}

const boost::shared_ptr<XmlIfValueImpl>& XmlIfValue::GetPtr() const { return holder(); }

// --- XmlIfKey

XmlIfKey::XmlIfKey() : negate(false) {}
XmlIfKey::XmlIfKey(const std::string& n) : name(n), negate(false) {}

XmlIfKey& XmlIfKey::operator==(const std::string& text) { return *this == XmlIfValue(text); }
XmlIfKey& XmlIfKey::operator==(const char* text) { return *this == XmlIfValue(text); }
XmlIfKey& XmlIfKey::operator==(int number) { return *this == XmlIfValue(number); }
XmlIfKey& XmlIfKey::operator==(const XmlIfValue& condition)
{
    value = condition.GetPtr();
    return *this;
}

XmlIfKey& XmlIfKey::operator!=(const std::string& text) { return *this != XmlIfValue(text); }
XmlIfKey& XmlIfKey::operator!=(const char* text) { return *this != XmlIfValue(text); }
XmlIfKey& XmlIfKey::operator!=(int number) { return *this != XmlIfValue(number); }
XmlIfKey& XmlIfKey::operator!=(const XmlIfValue& condition)
{
    negate = true;
    return *this == condition;
}

bool XmlIfKey::Match(const boost::shared_ptr<XmlElement>& element) const
{
    const boost::shared_ptr<XmlValue> attribute = element->GetAttribute(name);
    return attribute && (!value || value->Match(attribute) != negate);
}

// --- XmlIfElement

XmlIfElement::XmlIfElement() : attributeCount(0) {}
XmlIfElement::XmlIfElement(const std::string& tag) : tagName(tag), attributeCount(0) {}

XmlIfElement& XmlIfElement::operator[](const XmlIfKey& key)
{
    if (attributeCount >= 0) ++attributeCount;
    // The key is held by value, so a condition stays valid after the
    // expression that built it; the newest key is tested first.
    const Matcher previous = matcher;
    matcher = [key, previous](const boost::shared_ptr<XmlElement>& e) {
        return key.Match(e) && (!previous || previous(e));
    };
    return *this;
}

XmlIfElement& XmlIfElement::operator*()
{
    attributeCount = -1;
    return *this;
}

bool XmlIfElement::Match(const boost::shared_ptr<XmlElement>& element) const
{
    if (element->GetTagName() != tagName) return false;
    if (attributeCount != -1 && attributeCount != element->GetAttibutesCount()) return false;
    return !matcher || matcher(element);
}

const std::string& XmlIfElement::GetTagName() const { return tagName; }

// --- XmlSearchStatus

XmlSearchStatus::XmlSearchStatus() : PimplBase(new XmlSearchStatusImpl) {}
XmlSearchStatus::XmlSearchStatus(const XmlSearchStatus& other) = default;
XmlSearchStatus& XmlSearchStatus::operator=(const XmlSearchStatus& other) = default;
XmlSearchStatus::~XmlSearchStatus() = default;

void XmlSearchStatus::Add(const boost::shared_ptr<XmlElement>& element) { holder()->elements.push_back(element); }

void XmlSearchStatus::Scan(const boost::shared_ptr<XmlElement>& parent, const XmlIfElement& condition)
{
    parent->ForeachChildren(
        [&](const boost::shared_ptr<XmlElement>& child) {
            if (condition.Match(child)) Add(child);
        },
        XmlElement::TextCallback());
}

XmlSearchStatus& XmlSearchStatus::operator<(const XmlIfElement& condition)
{
    // A new selection object: copies made before this step keep the old one.
    XmlSearchStatus next;
    for (const boost::shared_ptr<XmlElement>& element : holder()->elements) next.Scan(element, condition);
    holder() = next.holder();
    return *this;
}

unsigned int XmlSearchStatus::operator>(Callback callback)
{
    const boost::shared_ptr<XmlSearchStatusImpl> selection = holder();
    for (const boost::shared_ptr<XmlElement>& element : selection->elements) callback(element);
    return static_cast<unsigned int>(selection->elements.size());
}

XmlSearchStatus& XmlSearchStatus::operator>(const XmlSearchChain&) { return *this; }

XmlSearchStatus operator<(const boost::shared_ptr<XmlElement>& element, const XmlIfElement& condition)
{
    XmlSearchStatus status;
    status.Add(element);
    return status < condition;
}

XmlSearchStatus XmlDocument::operator<(const XmlIfElement& condition) const
{
    XmlSearchStatus status;
    const boost::shared_ptr<XmlElement> start = GetRootElement();
    if (start && condition.Match(start)) status.Add(start);
    return status;
}

} // namespace xml
} // namespace kw
