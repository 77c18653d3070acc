// Search expressions: select elements level by level and hand each selected
// element to a callback, for example
//   root < XmlIfElement("dir")[XmlIfKey("path")] < XmlIfElement("add")[XmlIfKey("name")] > callback;
// Without operator* an element condition selects only elements that carry
// exactly as many attributes as it has key conditions.
#pragma once

#include <kw/Pimpl.h>
#include <kw/xml/XmlExport.h>
#include <kw/xml/XmlNode.h>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

namespace kw {
namespace xml {

class XmlIfValueImpl;
class XmlSearchStatusImpl;

// A condition on an attribute value. Copies share one condition.
class KW_XML_API XmlIfValue : private kw::pimpl::PimplBase<XmlIfValueImpl, kw::pimpl::NoAction::Allocator<XmlIfValueImpl>,
                                                           kw::pimpl::NoAction::Deleter<XmlIfValueImpl>> {
public:
    typedef boost::function<bool(boost::shared_ptr<XmlValue>)> Predicate;

    XmlIfValue();                              // any value
    XmlIfValue(const std::string& text);       // the whole text equals
    XmlIfValue(const char* text);
    XmlIfValue(int number);                    // the integer form equals
    XmlIfValue(Predicate predicate);
    // Turns a text condition into an unanchored regular-expression search.
    XmlIfValue& operator~();
    const boost::shared_ptr<XmlIfValueImpl>& GetPtr() const;
};

// A condition on one attribute: present, or present with a value condition.
class KW_XML_API XmlIfKey {
public:
    XmlIfKey();
    XmlIfKey(const std::string& name);

    XmlIfKey& operator==(const std::string& text);
    XmlIfKey& operator==(const char* text);
    XmlIfKey& operator==(int number);
    XmlIfKey& operator==(const XmlIfValue& value);
    // An absent attribute never matches, also not with !=.
    XmlIfKey& operator!=(const std::string& text);
    XmlIfKey& operator!=(const char* text);
    XmlIfKey& operator!=(int number);
    XmlIfKey& operator!=(const XmlIfValue& value);

    bool Match(const boost::shared_ptr<XmlElement>& element) const;

private:
    std::string name;
    bool negate;
    boost::shared_ptr<XmlIfValueImpl> value;
};

// A condition on an element: its tag, its attribute count and its keys.
class KW_XML_API XmlIfElement {
public:
    typedef boost::function<bool(const boost::shared_ptr<XmlElement>&)> Matcher;

    XmlIfElement();
    XmlIfElement(const std::string& tagName);

    // Adds a key condition (the key is copied; all keys must hold).
    XmlIfElement& operator[](const XmlIfKey& key);
    // Allows any number of attributes.
    XmlIfElement& operator*();
    bool Match(const boost::shared_ptr<XmlElement>& element) const;
    const std::string& GetTagName() const;

private:
    std::string tagName;
    Matcher matcher;
    int attributeCount;
};

struct KW_XML_API XmlSearchChain {};

// The current selection of a query. Copies share it until the next step.
class KW_XML_API XmlSearchStatus : private kw::pimpl::PimplBase<XmlSearchStatusImpl, kw::pimpl::NoAction::Allocator<XmlSearchStatusImpl>,
                                                                kw::pimpl::NoAction::Deleter<XmlSearchStatusImpl>> {
public:
    typedef boost::function<void(const boost::shared_ptr<XmlElement>&)> Callback;

    XmlSearchStatus();
    XmlSearchStatus(const XmlSearchStatus& other);
    XmlSearchStatus& operator=(const XmlSearchStatus& other);
    ~XmlSearchStatus();

    // One step down: the matching element children of the selection.
    XmlSearchStatus& operator<(const XmlIfElement& condition);
    // Calls the callback for each selected element in order; returns how many.
    unsigned int operator>(Callback callback);
    XmlSearchStatus& operator>(const XmlSearchChain&);

private:
    friend class XmlDocument;
    friend KW_XML_API XmlSearchStatus operator<(const boost::shared_ptr<XmlElement>&, const XmlIfElement&);

    void Add(const boost::shared_ptr<XmlElement>& element);
    void Scan(const boost::shared_ptr<XmlElement>& parent, const XmlIfElement& condition);
};

// The matching direct children of `element`.
KW_XML_API XmlSearchStatus operator<(const boost::shared_ptr<XmlElement>& element, const XmlIfElement& condition);

} // namespace xml
} // namespace kw
