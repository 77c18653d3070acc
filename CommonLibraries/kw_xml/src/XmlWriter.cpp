#include <kw/xml/XmlWriter.h>

namespace kw {
namespace xml {

namespace {

const char* const Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// The ampersand first, so that the entities written here are not escaped again.
std::string Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

XmlWriter::XmlWriter() : depth(0) {}
XmlWriter::XmlWriter(const std::string& unit) : indentUnit(unit), depth(0) {}
XmlWriter::XmlWriter(int count, char ch) : indentUnit(count > 0 ? static_cast<std::size_t>(count) : 0, ch), depth(0) {}
XmlWriter::~XmlWriter() = default;

unsigned int XmlWriter::WriteLn(Sink& sink, const std::string& line) const
{
    std::string out;
    out.reserve(indentUnit.size() * static_cast<std::size_t>(depth) + line.size() + 1);
    for (int i = 0; i < depth; ++i) out += indentUnit;
    out += line;
    out += '\n';
    return sink(out.data(), static_cast<unsigned int>(out.size()));
}

void XmlWriter::MakeTag(std::string& out, const std::string& tagName, bool selfClosing, const XmlAttributes& attributes) const
{
    out += '<';
    out += tagName;
    const auto add_attr = [&out](const std::string& name, const std::string& value) {
        out += ' ' + name + "=\"" + Escape(value) + '"';
        return xw_attr_continue;
    };
    attributes.ForeachAttributes(add_attr);
    if (selfClosing) out += " /";
    out += '>';
}

unsigned int XmlWriter::Write(Sink sink, Body body) { return Write(sink, body, Declaration); }

unsigned int XmlWriter::Write(Sink sink, Body body, const std::string& header)
{
    unsigned int total = WriteLn(sink, header);
    if (body) total += body(*this);
    return total;
}

unsigned int XmlWriter::Write(Sink sink, const std::string& tagName, Body body)
{
    return Write(sink, tagName, body, Declaration);
}

unsigned int XmlWriter::Write(Sink sink, const std::string& tagName, Body body, const std::string& header)
{
    const unsigned int total = WriteLn(sink, header);
    return total + WriteTag(sink, body, tagName, XmlAttributes());
}

unsigned int XmlWriter::WriteTag(Sink sink, Body body, const std::string& tagName, const XmlAttributes& attributes)
{
    std::string start;
    MakeTag(start, tagName, !body, attributes);
    unsigned int total = WriteLn(sink, start);
    if (body) {
        ++depth;
        total += body(*this);
        --depth;
        total += WriteLn(sink, "</" + tagName + ">");
    }
    return total;
}

unsigned int XmlWriter::WriteTag(Sink sink, const std::string& tagName, const XmlAttributes& attributes, const std::string& text)
{
    std::string line;
    MakeTag(line, tagName, text.empty(), attributes);
    if (!text.empty()) line += Escape(text) + "</" + tagName + '>';
    return WriteLn(sink, line);
}

unsigned int XmlWriter::WriteText(Sink sink, const std::string& text) const { return WriteLn(sink, Escape(text)); }

} // namespace xml
} // namespace kw
