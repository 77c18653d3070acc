// The XML reader and document builder over arbitrary text, fed whole and in
// small chunks: every feeding must give the same verdict and the same tree.
// A finished document is then optimized and read back.
#include "FuzzCheck.h"

#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlException.h>
#include <kw/xml/XmlNode.h>
#include <kw/xml/XmlReader.h>

#include <algorithm>
#include <cstdint>
#include <string>

using namespace kw::xml;

namespace {

// A text form of the tree that shows every tag, attribute (with its integer
// form) and text, so that two trees compare as strings.
void Describe(const XmlElement& element, std::string& out)
{
    out += '<';
    out += element.GetTagName();
    int attributes = 0;
    element.ForeachAttribute([&](const std::string& name, const boost::shared_ptr<XmlValue>& value) {
        ++attributes;
        out += ' ' + name + "=\"" + value->GetText() + '"';
        if (const boost::optional<int> number = value->GetValue()) out += '#' + std::to_string(*number);
        if (element.GetAttribute(name) != value) kwfuzz::Fail("GetAttribute differs from ForeachAttribute");
    });
    if (attributes != element.GetAttibutesCount()) kwfuzz::Fail("attribute count differs from the attributes");
    out += '>';
    // Depth is bounded by the reader (MaxDepth), so recursion is safe here.
    element.ForeachChildren([&](const boost::shared_ptr<XmlElement>& child) { Describe(*child, out); },
                            [&](const boost::shared_ptr<XmlText>& text) { out += "{" + text->GetText() + "}"; });
    out += "</>";
}

// Parses `input` fed in chunks of `chunk` bytes; the tree's text form, or
// nothing when the reader refused the input.
boost::optional<std::string> Parse(const std::string& input, std::size_t chunk, bool optimize)
{
    XmlDocument document;
    XmlReader reader;
    reader.SetFileName("fuzz.xml");
    reader.Prepare(document);
    try {
        for (std::size_t at = 0; at < input.size(); at += chunk)
            reader << input.substr(at, std::min(chunk, input.size() - at));
        reader.Finish();
    } catch (const XmlException&) {
        return boost::none;
    }
    if (!document.IsCompleted()) kwfuzz::Fail("Finish returned without completing the document");
    const boost::shared_ptr<XmlElement> root = document.GetRootElement();
    if (!root) kwfuzz::Fail("a completed document without a root element");
    if (optimize) document.Optimize();
    std::string text;
    Describe(*root, text);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const boost::optional<std::string> whole = Parse(input, std::max<std::size_t>(size, 1), false);
    for (std::size_t chunk : {1, 17})
        if (Parse(input, chunk, false) != whole) kwfuzz::Fail("chunked parsing differs from a whole parse");
    if (whole) Parse(input, 64, true);
    return 0;
}
