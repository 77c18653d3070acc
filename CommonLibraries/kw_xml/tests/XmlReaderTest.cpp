// The reader: chunking, parse errors with their lines, hostile input.
#include "XmlTestUtil.h"

#include <kw/xml/XmlException.h>

#include <gtest/gtest.h>

#include <boost/exception/get_error_info.hpp>

#include <sstream>

using namespace kw::xml;

namespace {

// A canonical dump of a subtree, to compare documents.
std::string Dump(const boost::shared_ptr<XmlElement>& e)
{
    std::ostringstream out;
    out << "<" << e->GetTagName();
    e->ForeachAttribute([&](const std::string& n, const boost::shared_ptr<XmlValue>& v) { out << " " << n << "=" << v->GetText(); });
    out << ">";
    e->ForeachChildren([&](const boost::shared_ptr<XmlElement>& c) { out << Dump(c); },
                       [&](const boost::shared_ptr<XmlText>& t) { out << "[" << t->GetText() << "]"; });
    out << "</>";
    return out.str();
}

// Feeds `input` (in one chunk) and finishes; describes the XmlException by
// its location as "file(line) in function: text" (missing parts empty, the
// line -1), noting a document that completed all the same.
std::string FailureOf(const std::string& input, const std::string& fileName = "dir\\sub/update.xml")
{
    XmlDocument document;
    XmlReader reader;
    reader.SetFileName(fileName);
    reader.Prepare(document);
    std::ostringstream failure;
    try {
        reader << input;
        reader.Finish();
        failure << "no error";
    } catch (const XmlException& e) {
        const char* const* file = boost::get_error_info<boost::throw_file>(e);
        const int* line = boost::get_error_info<boost::throw_line>(e);
        const char* const* function = boost::get_error_info<boost::throw_function>(e);
        failure << (file ? *file : "") << "(" << (line ? *line : -1) << ") in " << (function ? *function : "")
                << ": " << e.what();
    }
    if (document.IsCompleted()) failure << ", completed";
    return failure.str();
}

const char* const Script =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<update from=\"1.0\" to=\"1.1\">\n"
    "  <dir path=\"/\">\n"
    "    <add name=\"\xE8\xA1\xA8\xE7\xA4\xBA.txt\"/>\n" // two CJK characters
    "    <modify name=\"a&amp;b\" digest=\"00ff\">caf\xC3\xA9 &lt;x&gt;</modify>\n"
    "  </dir>\n"
    "</update>\n";

} // namespace

TEST(XmlReader, EverySplitPointGivesTheSameDocument)
{
    const std::string input = Script;
    const std::string expected = Dump(kw::xml::test::ParseRoot(input));
    EXPECT_NE(expected.find("\xE8\xA1\xA8\xE7\xA4\xBA.txt"), std::string::npos);
    for (std::size_t split = 0; split <= input.size(); ++split) {
        XmlDocument document;
        XmlReader reader;
        reader.Prepare(document);
        reader << XmlBuffer{input.data(), static_cast<std::uint32_t>(split)}
               << XmlBuffer{input.data() + split, static_cast<std::uint32_t>(input.size() - split)};
        reader.Finish();
        ASSERT_EQ(Dump(document.GetRootElement()), expected) << "split at " << split;
    }
    // One byte at a time.
    XmlDocument document;
    XmlReader reader;
    reader.Prepare(document);
    for (char c : input) reader << std::string(1, c);
    reader.Finish();
    EXPECT_EQ(Dump(document.GetRootElement()), expected);
}

TEST(XmlReader, ParseErrorsCarryExpatTextAndLine)
{
    // The file is named without its directories.
    EXPECT_EQ(FailureOf("<r>\n<a>\n</b>\n</r>"), "update.xml(3) in XML parsing: mismatched tag");
    // Finish ends the input with a line feed: an error at the end is on the line after the last.
    EXPECT_EQ(FailureOf(""), "update.xml(2) in XML parsing: no element found");
    EXPECT_EQ(FailureOf("<a/>\n<b/>"), "update.xml(2) in XML parsing: junk after document element");
    EXPECT_EQ(FailureOf("<a/>\ntext"), "update.xml(2) in XML parsing: junk after document element");
    EXPECT_EQ(FailureOf("<a x=\"1\" x=\"2\"/>"), "update.xml(1) in XML parsing: duplicate attribute");
    EXPECT_EQ(FailureOf("<a>\n\n<b></a>"), "update.xml(3) in XML parsing: mismatched tag");
    // Without a file name the location names no file.
    EXPECT_EQ(FailureOf("<a>", ""), "(2) in XML parsing: no element found");
}

TEST(XmlReader, ParseErrorMessageShowsLocation)
{
    XmlDocument document;
    XmlReader reader;
    reader.SetFileName("C:\\pkg\\update.xml");
    reader.Prepare(document);
    EXPECT_EQ(kw::xml::test::ErrorMessage<kw::ModuleError>([&] { reader << std::string("<a>\n<<"); }),
              "At update.xml(2) in XML parsing()\nnot well-formed (invalid token)");
    // The parser stays in its error state: further input keeps failing.
    EXPECT_THROW(reader << std::string("</a>"), XmlException);
    EXPECT_THROW(reader.Finish(), XmlException);
    EXPECT_FALSE(document.IsCompleted());
}

TEST(XmlReader, EntityDeclarationsAreRefused)
{
    // Amplification, and a chain nested deep enough to overflow the stack
    // inside expat when it is expanded: both stop at the first declaration.
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    bomb += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) bomb += "&lol" + std::to_string(i - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<lolz>&lol9;</lolz>\n";
    std::string chain = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY e0 \"x\">";
    for (int i = 1; i <= 30000; ++i) chain += "<!ENTITY e" + std::to_string(i) + " \"&e" + std::to_string(i - 1) + ";\">";
    chain += "]>\n<r a=\"&e30000;\">&e30000;</r>\n";
    for (const std::string& input : {bomb, chain})
        EXPECT_EQ(FailureOf(input), "update.xml(3) in XML parsing: entity declarations are not allowed");
    // A document type declaration without entities is still read.
    EXPECT_EQ(kw::xml::test::Parse("<!DOCTYPE r>\n<r/>")->GetRootElement()->GetTagName(), "r");
}

TEST(XmlReader, DeepNestingEndsInAClearError)
{
    // The limit itself is accepted.
    std::string ok;
    for (int i = 0; i < XmlReader::MaxDepth; ++i) ok += "<a>";
    for (int i = 0; i < XmlReader::MaxDepth; ++i) ok += "</a>";
    std::unique_ptr<XmlDocument> document = kw::xml::test::Parse(ok);
    document->Optimize();

    // One level more: the error raised inside the parser callback arrives
    // here as the same XmlException, located at the offending line.
    std::string deep = "<r>\n";
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(FailureOf(deep), "update.xml(2) in XML parsing: element nesting too deep");
}

TEST(XmlReader, UnpreparedAndRepeatedCallsAreHarmless)
{
    XmlReader reader;
    reader << std::string("<not xml");
    reader.Finish();

    XmlDocument first;
    XmlDocument second;
    reader.Prepare(first);
    reader.Prepare(second); // ignored: the first document stays the target
    reader << std::string("<one/>");
    reader.Finish();
    EXPECT_TRUE(first.IsCompleted());
    EXPECT_FALSE(second.IsCompleted());
    EXPECT_EQ(first.GetRootElement()->GetTagName(), "one");

    reader << std::string("garbage after finish");
    reader.Finish();

    // The reader can be prepared again.
    reader.Prepare(second);
    reader << std::string("<two/>");
    reader.Finish();
    EXPECT_EQ(second.GetRootElement()->GetTagName(), "two");
}

TEST(XmlReader, ReaderDestroyedMidParseReleasesEverything)
{
    // Run under the sanitizer build: nothing may leak.
    XmlDocument document;
    {
        XmlReader reader;
        reader.Prepare(document);
        reader << std::string("<r><a>text");
    }
    EXPECT_FALSE(document.IsCompleted());
}
