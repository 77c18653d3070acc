// The document model: integer forms, attributes, children and Optimize.
#include "XmlTestUtil.h"

#include <kw/xml/XmlException.h>

#include <gtest/gtest.h>

#include <boost/function.hpp>
#include <boost/optional/optional_io.hpp>

#include <limits>
#include <utility>
#include <vector>

using namespace kw::xml;
using kw::xml::test::ParseRoot;

namespace {

// The integer form of one attribute value, as the document computes it.
boost::optional<int> IntegerOf(const std::string& text)
{
    const boost::shared_ptr<XmlElement> root = ParseRoot("<r v=\"" + text + "\"/>");
    return root->GetAttribute("v")->GetValue();
}

// The texts of the root's text children after Optimize.
std::vector<std::string> OptimizedTexts(const std::string& body)
{
    std::vector<std::string> texts;
    ParseRoot("<r>" + body + "</r>", true)
        ->ForeachChildren(XmlElement::ElementCallback(),
                          [&](const boost::shared_ptr<XmlText>& t) { texts.push_back(t->GetText()); });
    return texts;
}

} // namespace

TEST(XmlValue, IntegerFormTable)
{
    const std::vector<std::pair<std::string, boost::optional<int>>> table = {
        {"0", 0},
        {"-0", boost::none},
        {"+5", boost::none},
        {" 5", boost::none},
        {"5 ", boost::none},
        {"1e3", boost::none},
        {"0X1F", boost::none},
        {"0x1F", boost::none},
        {"0x1f", 31},
        {"007", 7},
        {"010", 8},
        {"00", 0},
        {"08", boost::none},
        {"017777777777", 2147483647},
        {"020000000000", boost::none},
        {"0x7fffffff", 2147483647},
        {"0x80000000", boost::none},
        {"0x00000001", boost::none},
        {"0x0000001", 1},
        {"0x", boost::none},
        {"2147483647", 2147483647},
        {"2147483648", boost::none},
        {"99999999999999999999", boost::none},
        {"-2147483648", std::numeric_limits<int>::min()},
        {"-2147483649", boost::none},
        {"-12", -12},
        {"", boost::none},
        {"abc", boost::none},
    };
    for (const auto& row : table) EXPECT_EQ(IntegerOf(row.first), row.second) << "value text '" << row.first << "'";
}

TEST(XmlValue, TextAndDefaults)
{
    const boost::shared_ptr<XmlElement> root = ParseRoot("<r a=\"x&lt;y\" n=\"0x10\"/>");
    const boost::shared_ptr<XmlValue> a = root->GetAttribute("a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->GetText(), "x<y");
    EXPECT_FALSE(a->HasValue());
    EXPECT_EQ(a->GetValue(5), 5);
    EXPECT_EQ(root->GetAttribute("n")->GetValue(5), 16);
    EXPECT_TRUE(root->GetAttribute("n")->HasValue());
    EXPECT_FALSE(root->GetAttribute("missing"));
    EXPECT_FALSE(root->GetAttribute("A")); // names are case-sensitive
}

TEST(XmlElement, AttributesInByteOrderChildrenInDocumentOrder)
{
    const boost::shared_ptr<XmlElement> root =
        ParseRoot("<r b=\"1\" a=\"2\" B=\"3\">one<x/>two<y><z/></y></r>");
    EXPECT_EQ(root->GetTagName(), "r");
    EXPECT_EQ(root->GetAttibutesCount(), 3);

    std::vector<std::string> names;
    root->ForeachAttribute([&](const std::string& name, const boost::shared_ptr<XmlValue>& v) {
        names.push_back(name + "=" + v->GetText());
    });
    EXPECT_EQ(names, (std::vector<std::string>{"B=3", "a=2", "b=1"}));

    std::vector<std::string> children;
    root->ForeachChildren([&](const boost::shared_ptr<XmlElement>& e) { children.push_back("<" + e->GetTagName()); },
                          [&](const boost::shared_ptr<XmlText>& t) { children.push_back(t->GetText()); });
    EXPECT_EQ(children, (std::vector<std::string>{"one", "<x", "two", "<y"}));

    // An empty callback skips its kind.
    int elements = 0;
    root->ForeachChildren([&](const boost::shared_ptr<XmlElement>&) { ++elements; }, XmlElement::TextCallback());
    EXPECT_EQ(elements, 2);

    // An empty attribute callback fails once there is something to report.
    EXPECT_THROW(root->ForeachAttribute(XmlElement::AttributeCallback()), boost::bad_function_call);
}

TEST(XmlElement, TextPiecesJoinAndParentsLink)
{
    // Entity references and a CDATA section make expat deliver several pieces.
    const boost::shared_ptr<XmlElement> root = ParseRoot("<r>a&amp;b<![CDATA[<c>]]>d<e>f</e></r>");
    std::vector<boost::shared_ptr<XmlText>> texts;
    boost::shared_ptr<XmlElement> child;
    root->ForeachChildren([&](const boost::shared_ptr<XmlElement>& e) { child = e; },
                          [&](const boost::shared_ptr<XmlText>& t) { texts.push_back(t); });
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0]->GetText(), "a&b<c>d");
    EXPECT_EQ(texts[0]->GetParent().lock(), root);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->GetParent().lock(), root);
    EXPECT_TRUE(root->GetParent().expired());
}

TEST(XmlElement, HandedOutElementOutlivesDocument)
{
    boost::shared_ptr<XmlElement> child;
    {
        const boost::shared_ptr<XmlElement> root = ParseRoot("<r><c k=\"v\"><g/></c></r>");
        root->ForeachChildren([&](const boost::shared_ptr<XmlElement>& e) { child = e; }, XmlElement::TextCallback());
    }
    ASSERT_TRUE(child);
    EXPECT_EQ(child->GetAttribute("k")->GetText(), "v");
    EXPECT_TRUE(child->GetParent().expired());
    int grandchildren = 0;
    child->ForeachChildren([&](const boost::shared_ptr<XmlElement>&) { ++grandchildren; }, XmlElement::TextCallback());
    EXPECT_EQ(grandchildren, 1);
}

TEST(XmlDocument, OptimizeTrimsLineByLine)
{
    using Texts = std::vector<std::string>;
    EXPECT_EQ(OptimizedTexts(" \t\n  \n"), Texts{});
    EXPECT_EQ(OptimizedTexts("\n  Hello  \n  World\n"), Texts{"Hello\nWorld"});
    EXPECT_EQ(OptimizedTexts("a\n\n\nb"), Texts{"a\n\n\nb"});
    EXPECT_EQ(OptimizedTexts("  two  words  "), Texts{"two  words"});
    // expat turns a CR LF pair into one line feed; a character reference keeps it.
    EXPECT_EQ(OptimizedTexts(" a &#13;\n b "), Texts{"a\r\nb"});
    EXPECT_EQ(OptimizedTexts("\n\n a \n\n b \n\n"), Texts{"a\n\nb"});
    // A lone carriage return ends a line too.
    EXPECT_EQ(OptimizedTexts(" a &#13; b "), Texts{"a\rb"});
    // Texts on both sides of a child, in nested elements too.
    std::vector<std::string> nested;
    ParseRoot("<r>\n  <c>\n    x  \n  </c>\n</r>", true)
        ->ForeachChildren(
            [&](const boost::shared_ptr<XmlElement>& c) {
                c->ForeachChildren(XmlElement::ElementCallback(),
                                   [&](const boost::shared_ptr<XmlText>& t) { nested.push_back(t->GetText()); });
            },
            [&](const boost::shared_ptr<XmlText>& t) { nested.push_back("root:" + t->GetText()); });
    EXPECT_EQ(nested, Texts{"x"});
}

TEST(XmlDocument, NotCompletedUntilFinished)
{
    XmlDocument document;
    EXPECT_FALSE(document.IsCompleted());
    EXPECT_EQ(kw::xml::test::ErrorMessage<XmlException>([&] { document.GetRootElement(); }), "not completed");
    EXPECT_THROW(document.Optimize(), XmlException);

    XmlReader reader;
    reader.Prepare(document);
    reader << std::string("<r>x</r>");
    EXPECT_THROW(document.Optimize(), XmlException);
    reader.Finish();
    EXPECT_TRUE(document.IsCompleted());
    document.Optimize();
    document.Optimize(); // a second call is harmless
    EXPECT_EQ(document.GetRootElement()->GetTagName(), "r");
}
