// The writer: output byte for byte, escaping, attribute order, indentation
// and summed sink results.
#include <kw/xml/XmlWriter.h>

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

using namespace kw::xml;

namespace {

// Records every sink call as one line and returns its byte count.
struct Lines {
    std::vector<std::string> calls;
    const XmlWriter::Sink sink = [this](const void* data, unsigned int size) {
        calls.emplace_back(static_cast<const char*>(data), size);
        return size;
    };
    std::string Joined() const { return std::accumulate(calls.begin(), calls.end(), std::string()); }
};

XmlAttributes Attr(const std::string& name, const std::string& value)
{
    XmlAttributes a;
    a.AddAttribute(name, value);
    return a;
}

} // namespace

TEST(XmlWriter, OutputExampleByteForByte)
{
    Lines lines;
    XmlWriter writer("  ");
    const unsigned int total = writer.Write(lines.sink, "root", [&](XmlWriter& w) {
        XmlAttributes a;
        a.AddAttribute("id", 7);
        return w.WriteTag(lines.sink, "item", a, "a<b");
    });
    EXPECT_EQ(lines.calls, (std::vector<std::string>{"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", "<root>\n",
                                                      "  <item id=\"7\">a&lt;b</item>\n", "</root>\n"}));
    // The sink results are summed: here the number of bytes produced.
    EXPECT_EQ(total, lines.Joined().size());
}

TEST(XmlWriter, EscapingAppliesToValuesAndTextsOnly)
{
    Lines lines;
    XmlWriter writer;
    writer.WriteText(lines.sink, "&lt; \"q\" 'a' <b> \t");
    writer.WriteTag(lines.sink, "t&g", Attr("n<", "&amp;\">"), "x");
    EXPECT_EQ(lines.calls, (std::vector<std::string>{"&amp;lt; &quot;q&quot; 'a' &lt;b&gt; \t\n",
                                                      "<t&g n<=\"&amp;amp;&quot;&gt;\">x</t&g>\n"}));
}

TEST(XmlWriter, AttributesSortedByNameDuplicatesInInsertionOrder)
{
    XmlAttributes a;
    a.AddAttribute("c", "1");
    a.AddAttribute("b", "2");
    a.AddAttribute("a", "3");
    a.AddAttribute("B", "4");
    a.AddAttribute("b", "5");
    a.AddAttribute("n", -5);
    Lines lines;
    XmlWriter writer;
    writer.WriteTag(lines.sink, "e", a, "");
    EXPECT_EQ(lines.calls,
              std::vector<std::string>{"<e B=\"4\" a=\"3\" b=\"2\" b=\"5\" c=\"1\" n=\"-5\" />\n"});

    // Copies share the list; the callback result is not looked at.
    XmlAttributes copy = a;
    copy.AddAttribute("z", "9");
    int seen = 0;
    a.ForeachAttributes([&](const std::string&, const std::string&) {
        ++seen;
        return static_cast<xw_attr_operation_e>(1);
    });
    EXPECT_EQ(seen, 7);
    EXPECT_THROW(a.ForeachAttributes(XmlAttributes::Callback()), boost::bad_function_call);
    EXPECT_NO_THROW(XmlAttributes().ForeachAttributes(XmlAttributes::Callback()));
}

TEST(XmlWriter, IndentationOfEachConstructor)
{
    // Two nested levels written with each constructor.
    const auto nested = [](XmlWriter&& writer) {
        Lines lines;
        writer.Write(lines.sink, "a", [&](XmlWriter& w) {
            return w.WriteTag(lines.sink, [&](XmlWriter& inner) { return inner.WriteText(lines.sink, "t"); }, "b",
                              XmlAttributes()) +
                   w.WriteTag(lines.sink, XmlWriter::Body(), "c", XmlAttributes());
        });
        return lines.Joined();
    };
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    EXPECT_EQ(nested(XmlWriter()), decl + "<a>\n<b>\nt\n</b>\n<c />\n</a>\n");
    EXPECT_EQ(nested(XmlWriter(2, ' ')), decl + "<a>\n  <b>\n    t\n  </b>\n  <c />\n</a>\n");
    EXPECT_EQ(nested(XmlWriter(1, '\t')), decl + "<a>\n\t<b>\n\t\tt\n\t</b>\n\t<c />\n</a>\n");
    EXPECT_EQ(nested(XmlWriter("--")), decl + "<a>\n--<b>\n----t\n--</b>\n--<c />\n</a>\n");
}

TEST(XmlWriter, HeaderAndBodyVariants)
{
    Lines lines;
    const XmlWriter::Sink& sink = lines.sink;
    XmlWriter writer(" ");
    unsigned int total = writer.Write(sink, [&](XmlWriter& w) { return w.WriteText(sink, "x"); }, "<!-- h -->");
    total += writer.Write(sink, XmlWriter::Body());
    total += writer.Write(sink, "e", XmlWriter::Body(), "<h/>");
    EXPECT_EQ(lines.Joined(), "<!-- h -->\nx\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<h/>\n<e />\n");
    EXPECT_EQ(total, lines.Joined().size());

    // The sum is what the sink returns, whatever it is.
    XmlWriter counting;
    EXPECT_EQ(counting.Write([](const void*, unsigned int) { return 1u; }, "r",
                             [](XmlWriter& w) { return w.WriteText([](const void*, unsigned int) { return 10u; }, "x"); }),
              13u);
    EXPECT_THROW(counting.WriteText(XmlWriter::Sink(), "x"), boost::bad_function_call);
}
