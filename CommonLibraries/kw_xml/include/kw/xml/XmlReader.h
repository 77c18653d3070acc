// Push reader: XML text fed in chunks of any size becomes an XmlDocument.
#pragma once

#include <kw/Pimpl.h>
#include <kw/xml/XmlExport.h>

#include <cstdint>
#include <string>

namespace kw {
namespace xml {

class XmlDocument;
class XmlReaderImpl;

// One chunk of input; the reader does not keep it after the call.
struct KW_XML_API XmlBuffer {
    const char* data;
    std::uint32_t size;
};

class KW_XML_API XmlReader : private kw::pimpl::PimplBase<XmlReaderImpl> {
public:
    // Elements nested deeper than this are refused with an XmlException
    // ("element nesting too deep"), so that no recursive walk over a tree
    // (destruction, Optimize) can exhaust the stack.
    static const int MaxDepth = 1000;
    // An entity declaration is refused the same way ("entity declarations
    // are not allowed"): nested entities would expand deep enough inside the
    // parser to exhaust the stack.

    XmlReader();
    ~XmlReader();

    // The name shown in parse error reports (its base name).
    void SetFileName(const std::string& name);
    // Starts a parse into `document`; ignored while a parse is prepared.
    void Prepare(XmlDocument& document);
    // Pass bytes to the parser; ignored when not prepared. A parse error or
    // an error of the document leaves here as an XmlException.
    XmlReader& operator<<(const XmlBuffer& chunk);
    XmlReader& operator<<(const std::string& chunk);
    // Ends the parse and completes the document; ignored when not prepared.
    void Finish();
};

} // namespace xml
} // namespace kw
