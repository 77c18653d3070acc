// Parsing and error helpers shared by the tests.
#pragma once

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlReader.h>

#include <memory>
#include <string>

namespace kw {
namespace xml {
namespace test {

// Parses `text` in one chunk into a completed document.
inline std::unique_ptr<XmlDocument> Parse(const std::string& text)
{
    std::unique_ptr<XmlDocument> document(new XmlDocument);
    XmlReader reader;
    reader.Prepare(*document);
    reader << text;
    reader.Finish();
    return document;
}

// The root element of `text` after parsing.
inline boost::shared_ptr<XmlElement> ParseRoot(const std::string& text, bool optimize = false)
{
    std::unique_ptr<XmlDocument> document = Parse(text);
    if (optimize) document->Optimize();
    return document->GetRootElement();
}

// The message of the error, caught as `Error`, that `step` throws; "no error" when it throws none.
template <class Error, class Step>
std::string ErrorMessage(const Step& step)
{
    try {
        step();
    } catch (const Error& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace test
} // namespace xml
} // namespace kw
