// A parsed XML document: the tree of elements and texts that the reader
// builds. Callers take the finished tree through GetRootElement.
#pragma once

#include <kw/xml/XmlExport.h>
#include <kw/xml/XmlNode.h>

#include <boost/shared_ptr.hpp>

#include <map>
#include <string>

namespace kw {
namespace xml {

class XmlIfElement;
class XmlSearchStatus;
class XmlReaderImpl;

class KW_XML_API XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Fails with "not completed" until the reader has finished the document.
    const boost::shared_ptr<XmlElement> GetRootElement() const;
    bool IsCompleted() const;
    // Removes white-space-only texts and trims every other text line by line.
    void Optimize();

    // Starts a search at the root element (see XmlSearch.h).
    XmlSearchStatus operator<(const XmlIfElement& condition) const;

private:
    friend class XmlReaderImpl;

    void AddElement(const std::string& tagName, const std::map<const char*, const char*>& attributes);
    void AddCharacterData(const std::string& text);
    void EndElement(const std::string& tagName);
    void Complete();

    void CreateNewElement(const std::string& tagName);
    boost::shared_ptr<XmlElement> GetCurrentElement();

    boost::shared_ptr<XmlElement> root;
    boost::shared_ptr<XmlNode> current;
    bool completed;
};

} // namespace xml
} // namespace kw
