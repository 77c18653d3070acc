// Writes indented XML text line by line to a byte sink. Nested content is
// described by callbacks that receive the writer. No tree is kept and names
// are written unchanged; values and texts are escaped.
#pragma once

#include <kw/Pimpl.h>
#include <kw/xml/XmlExport.h>

#include <boost/function.hpp>

#include <string>

namespace kw {
namespace xml {

class XmlAttributesImpl;

// What an attribute callback returns; the iteration ignores it.
enum xw_attr_operation_e { xw_attr_continue = 0 };

// The attributes of a start tag, written sorted by name (byte-wise); equal
// names are all kept in the order they were added. Copies share the list.
class KW_XML_API XmlAttributes : private kw::pimpl::PimplBase<XmlAttributesImpl> {
public:
    typedef boost::function<xw_attr_operation_e(const std::string& name, const std::string& value)> Callback;

    XmlAttributes();
    ~XmlAttributes();

    void AddAttribute(const std::string& name, const std::string& value);
    void AddAttribute(const std::string& name, int value);
    void ForeachAttributes(Callback fn) const;
};

class KW_XML_API XmlWriter {
public:
    // Called once per line with its bytes; the results are summed.
    typedef boost::function<unsigned int(const void* data, unsigned int size)> Sink;
    // Writes nested content; returns the sum of what its calls returned.
    typedef boost::function<unsigned int(XmlWriter&)> Body;

    XmlWriter();
    explicit XmlWriter(const std::string& indentUnit);
    XmlWriter(int count, char ch);
    ~XmlWriter();

    // The XML declaration line, then the body.
    unsigned int Write(Sink sink, Body body);
    // `header` as the first line, then the body.
    unsigned int Write(Sink sink, Body body, const std::string& header);
    // The XML declaration line, then one element `tagName` around the body.
    unsigned int Write(Sink sink, const std::string& tagName, Body body);
    unsigned int Write(Sink sink, const std::string& tagName, Body body, const std::string& header);

    // One element whose content is the body; self-closing without a body.
    unsigned int WriteTag(Sink sink, Body body, const std::string& tagName, const XmlAttributes& attributes);
    // One element on one line with text content; self-closing without text.
    unsigned int WriteTag(Sink sink, const std::string& tagName, const XmlAttributes& attributes, const std::string& text);
    // One line of text.
    unsigned int WriteText(Sink sink, const std::string& text) const;

private:
    unsigned int WriteLn(Sink& sink, const std::string& line) const;
    void MakeTag(std::string& out, const std::string& tagName, bool selfClosing, const XmlAttributes& attributes) const;

    std::string indentUnit;
    int depth;
};

} // namespace xml
} // namespace kw
