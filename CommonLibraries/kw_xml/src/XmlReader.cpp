// The reader: feeds chunks to expat and turns its events into the
// document's building operations.
#include "ExpatWrapper.h"

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlException.h>
#include <kw/xml/XmlReader.h>

#include <boost/bind/bind.hpp>
#include <boost/optional.hpp>

#include <algorithm>
#include <climits>
#include <set>

namespace kw {
namespace xml {

namespace {

// Error locations keep a plain pointer to the file name, which must outlive
// every copy of the error: names are kept once for the process (a reader
// reports few distinct names; the library is used from one thread).
const char* StableName(const std::string& name)
{
    static std::set<std::string> names;
    return names.insert(name).first->c_str();
}

} // namespace

class XmlReaderImpl {
public:
    void Prepare(XmlDocument& target)
    {
        if (parser) return;
        parser.emplace();
        document = &target;
        depth_ = 0;
        using namespace boost::placeholders;
        parser->SetElementHandler(boost::bind(&XmlReaderImpl::OnStart, this, _1, _2),
                                  boost::bind(&XmlReaderImpl::OnEnd, this, _1));
        parser->SetCharacterDataHandler(boost::bind(&XmlReaderImpl::OnText, this, _1, _2));
        parser->SetEntityDeclarationHandler(boost::bind(&XmlReaderImpl::OnEntityDeclaration, this, _1));
    }

    void Feed(const char* data, std::size_t size)
    {
        if (!parser) return;
        // XML_Parse takes an int length: larger chunks go in pieces.
        do {
            const std::size_t piece = std::min<std::size_t>(size, INT_MAX);
            Parse(data, static_cast<int>(piece), false);
            data += piece;
            size -= piece;
        } while (size != 0);
    }

    void Finish()
    {
        if (!parser) return;
        Parse("\n", 1, true);
        document->Complete();
        document = nullptr;
        parser.reset();
    }

    boost::optional<ExpatWrapper> parser;
    XmlDocument* document = nullptr;
    std::string fileName;

private:
    void Parse(const char* data, int length, bool isFinal)
    {
        if (parser->Parse(data, length, isFinal) == XML_STATUS_ERROR)
            Raise(XML_ErrorString(XML_GetErrorCode(parser->GetParser())));
    }

    // An error located at the parser's line, with the label "XML parsing".
    [[noreturn]] void Raise(const char* text) const
    {
        const int line = static_cast<int>(XML_GetCurrentLineNumber(parser->GetParser()));
        ::kw::RaiseWithLocation(StableName(fileName), XmlException(text ? text : "unknown error"), line, "XML parsing");
    }

    void OnStart(const char* name, const char** attributes)
    {
        if (++depth_ > XmlReader::MaxDepth) Raise("element nesting too deep");
        std::map<const char*, const char*> pairs;
        for (const char** a = attributes; a[0] && a[1]; a += 2) pairs.emplace(a[0], a[1]);
        document->AddElement(name, pairs);
    }

    void OnEnd(const char* name)
    {
        --depth_;
        document->EndElement(name);
    }

    void OnText(const char* data, int length)
    {
        document->AddCharacterData(std::string(data, static_cast<std::size_t>(length)));
    }

    // Nested entities expand recursively inside expat, deep enough to exhaust
    // the stack; the documents read here never need one, so none is accepted.
    // The name is not shown: error texts stay ASCII, whatever the document holds.
    void OnEntityDeclaration(const char* /*name*/) { Raise("entity declarations are not allowed"); }

    int depth_ = 0;
};

XmlReader::XmlReader() { install(); }
XmlReader::~XmlReader() = default;

void XmlReader::SetFileName(const std::string& name) { holder()->fileName = name; }
void XmlReader::Prepare(XmlDocument& document) { holder()->Prepare(document); }

XmlReader& XmlReader::operator<<(const XmlBuffer& chunk)
{
    holder()->Feed(chunk.data, chunk.size);
    return *this;
}

XmlReader& XmlReader::operator<<(const std::string& chunk)
{
    holder()->Feed(chunk.data(), chunk.size());
    return *this;
}

void XmlReader::Finish() { holder()->Finish(); }

} // namespace xml
} // namespace kw
