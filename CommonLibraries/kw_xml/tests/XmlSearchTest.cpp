// Search expressions: attribute counts, key conditions, regular expressions
// and the order of callbacks.
#include "XmlTestUtil.h"

#include <kw/xml/XmlException.h>
#include <kw/xml/XmlSearch.h>

#include <gtest/gtest.h>

#include <boost/function.hpp>

#include <string>
#include <vector>

using namespace kw::xml;

namespace {

// Collects the `id` attribute (or else the tag) of each element handed to
// the latest callback.
struct Ids {
    std::vector<std::string> seen;
    XmlSearchStatus::Callback Callback()
    {
        seen.clear();
        return [this](const boost::shared_ptr<XmlElement>& e) {
            const boost::shared_ptr<XmlValue> id = e->GetAttribute("id");
            seen.push_back(id ? id->GetText() : e->GetTagName());
        };
    }
};

// The ids of the root's children selected by `condition`.
std::vector<std::string> Select(const std::string& children, const XmlIfElement& condition)
{
    const boost::shared_ptr<XmlElement> root = kw::xml::test::ParseRoot("<r>" + children + "</r>");
    Ids ids;
    const unsigned int count = root < condition > ids.Callback();
    EXPECT_EQ(count, ids.seen.size());
    return ids.seen;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(XmlSearch, AttributeCountMustMatchExactlyWithoutStar)
{
    const std::string children = "<f/><f id=\"1\"/><f id=\"2\" name=\"n\"/><f id=\"3\" name=\"n\" hash=\"h\"/>";
    EXPECT_EQ(Select(children, XmlIfElement("f")), Strings{"f"});
    EXPECT_EQ(Select(children, XmlIfElement("f")[XmlIfKey("id")]), Strings{"1"});
    EXPECT_EQ(Select(children, XmlIfElement("f")[XmlIfKey("id")][XmlIfKey("name")]), Strings{"2"});
    // operator* allows further attributes, before or after the keys.
    EXPECT_EQ(Select(children, *XmlIfElement("f")[XmlIfKey("name")]), (Strings{"2", "3"}));
    EXPECT_EQ(Select(children, (*XmlIfElement("f"))[XmlIfKey("name")]), (Strings{"2", "3"}));
    EXPECT_EQ(Select(children, *XmlIfElement("f")), (Strings{"f", "1", "2", "3"}));
    // Tags compare exactly.
    EXPECT_EQ(Select(children, *XmlIfElement("F")), Strings{});
}

TEST(XmlSearch, KeyConditions)
{
    const std::string children =
        "<e id=\"a\" n=\"5\"/><e id=\"b\" n=\"05\"/><e id=\"c\" n=\"0x5\"/><e id=\"d\" n=\"5.0\"/>"
        "<e id=\"e\" n=\"5 \"/><e id=\"f\"/>";
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == 5]), (Strings{"a", "b", "c"}));
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == "5"]), Strings{"a"});
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == std::string("05")]), Strings{"b"});
    // != never selects an element that lacks the attribute.
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") != 5]), (Strings{"d", "e"}));
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") != "x"]), (Strings{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == XmlIfValue()]), (Strings{"a", "b", "c", "d", "e"}));
    // Every key must hold.
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == 5][XmlIfKey("id") != "b"]), (Strings{"a", "c"}));
    // A predicate condition.
    const XmlIfValue longText([](boost::shared_ptr<XmlValue> v) { return v->GetText().size() > 2; });
    EXPECT_EQ(Select(children, *XmlIfElement("e")[XmlIfKey("n") == longText]), (Strings{"c", "d"}));
}

TEST(XmlSearch, TextVersusRegularExpression)
{
    const std::string children = "<e id=\"xyz\"/>";
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") == "y"]), Strings{});
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") == ~XmlIfValue("y")]), Strings{"xyz"});
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") == ~XmlIfValue("^y")]), Strings{});
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") == ~XmlIfValue("^x.z$")]), Strings{"xyz"});
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") != ~XmlIfValue("q")]), Strings{"xyz"});

    // Copies share the condition: ~ on one turns the other into a pattern.
    XmlIfValue pattern("y");
    const XmlIfValue copy = pattern;
    ~pattern;
    EXPECT_EQ(Select(children, XmlIfElement("e")[XmlIfKey("id") == copy]), Strings{"xyz"});

    EXPECT_EQ(kw::xml::test::ErrorMessage<XmlException>([] { ~XmlIfValue(5); }), "regular expression without string");
    EXPECT_ANY_THROW(Select(children, XmlIfElement("e")[XmlIfKey("id") == ~XmlIfValue("(")]));
}

TEST(XmlSearch, StepsDescendOneLevelInDocumentOrder)
{
    std::unique_ptr<XmlDocument> document = kw::xml::test::Parse(
        "<update from=\"1\">"
        "<dir id=\"d1\"><add id=\"a1\"/>text<add id=\"a2\"/><dir id=\"deep\"><add id=\"no\"/></dir></dir>"
        "<other><add id=\"no2\"/></other>"
        "<dir id=\"d2\"><add id=\"a3\"/></dir>"
        "</update>");
    Ids ids;
    EXPECT_EQ(*document < *XmlIfElement("update") < XmlIfElement("dir")[XmlIfKey("id")] <
                  XmlIfElement("add")[XmlIfKey("id")] > ids.Callback(),
              3u);
    EXPECT_EQ(ids.seen, (Strings{"a1", "a2", "a3"}));

    // The root condition must match the root itself.
    EXPECT_EQ(*document < XmlIfElement("update") > ids.Callback(), 0u);

    // From an element: its direct children only; chains keep going when empty.
    const boost::shared_ptr<XmlElement> root = document->GetRootElement();
    EXPECT_EQ(root < XmlIfElement("none") < XmlIfElement("add") > ids.Callback(), 0u);
    EXPECT_TRUE(ids.seen.empty());
    EXPECT_EQ(root < XmlIfElement("none") > XmlSearchStatus::Callback(), 0u); // empty callback, empty selection

    // A copy taken before a step keeps the earlier selection.
    XmlSearchStatus dirs = root < XmlIfElement("dir")[XmlIfKey("id")];
    XmlSearchStatus before = dirs;
    dirs < XmlIfElement("add")[XmlIfKey("id")];
    before > XmlSearchChain() > ids.Callback();
    EXPECT_EQ(ids.seen, (Strings{"d1", "d2"}));
    EXPECT_THROW(dirs > XmlSearchStatus::Callback(), boost::bad_function_call);

    // A condition kept beyond the expression that built it stays usable.
    const XmlIfElement kept = XmlIfElement("dir")[XmlIfKey("id") == std::string("d2")];
    root < kept > ids.Callback();
    EXPECT_EQ(ids.seen, Strings{"d2"});

    XmlDocument incomplete;
    EXPECT_THROW(incomplete < XmlIfElement("update"), XmlException);
}
