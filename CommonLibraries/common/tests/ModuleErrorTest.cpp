#include "ErrorProbe.h"
#include "ExpectError.h"

#include <kw/ModuleError.h>
#include <kw/ModuleLoaderError.h>

#include <boost/exception_ptr.hpp>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <type_traits>

namespace {
class TestErrorBase : public kw::ModuleError {};
KW_DEFINE_ERROR(TestError, std::domain_error, TestErrorBase);

// The message of an error "t" raised at the given location.
std::string RaisedAt(const char* file, int line, const char* function)
{
    return kwtest::ExpectError<TestError>([&] { kw::RaiseWithLocation(file, TestError("t"), line, function); }, "t");
}
} // namespace

TEST(ModuleError, FormatsLocationWithBaseNameOfEitherSeparator)
{
    EXPECT_EQ("At e.cpp(12) in f()\nt", RaisedAt("..\\src\\dir\\e.cpp", 12, "f"));
    EXPECT_EQ("At e.cpp(3) in g()\nt", RaisedAt("a/b\\c/e.cpp", 3, "g"));
    EXPECT_EQ("At e.cpp(3) in g()\nt", RaisedAt("a\\b/c\\e.cpp", 3, "g"));
    EXPECT_EQ("At plain.cpp(1) in h()\nt", RaisedAt("plain.cpp", 1, "h"));
}

TEST(ModuleError, UnlocatedErrorGivesBareTextEveryTime)
{
    TestError e("bare text");
    EXPECT_STREQ("bare text", e.Message());
    EXPECT_STREQ("bare text", e.Message());
}

TEST(ModuleError, SetLocationKeepsTheFirstLocation)
{
    TestError e("t");
    e.SetLocation("x/first.cpp", 5, "first");
    e.SetLocation("second.cpp", 9, "second");
    EXPECT_STREQ("At first.cpp(5) in first()\nt", e.Message());

    try {
        KW_RAISE(TestError("inner"), "inner_label");
    } catch (kw::ModuleError& raised) {
        raised.SetLocation("outer.cpp", 1, "outer");
        EXPECT_NE(std::string::npos, std::string(raised.Message()).find("in inner_label()"));
    }
}

TEST(ModuleError, MessageIsCachedAndSharedByLaterCopies)
{
    TestError e("t");
    e.SetLocation("f.cpp", 2, "f");
    const char* first = e.Message();
    EXPECT_EQ(first, e.Message());
    TestError copy(e);
    EXPECT_EQ(first, copy.Message());
}

TEST(ModuleError, RaisedObjectCanBeCapturedAndRethrown)
{
    boost::exception_ptr captured;
    try {
        KW_RAISE(TestError("again"), "cap");
    } catch (...) {
        captured = boost::current_exception();
    }
    ASSERT_TRUE(captured);
    // An error that lost its class shows as an unexpected exception.
    const std::string message =
        kwtest::ExpectError<TestErrorBase>([&] { boost::rethrow_exception(captured); }, "again");
    EXPECT_NE(std::string::npos, message.find("again"));
}

TEST(ModuleError, BadAllocationClassesSitWhereTheFamiliesPutThem)
{
    static_assert(!std::is_base_of<kw::ModuleLoaderCommonErrorBase, kw::ModuleLoaderBadAllocation>::value,
                  "ModuleLoaderBadAllocation must not be a common error");
    kwtest::ExpectError<kw::ModuleLoaderErrorBase>([] { throw kw::ModuleLoaderBadAllocation("no memory"); },
                                                   "no memory");
    EXPECT_THROW(throw kw::ModuleLoaderBadAllocation("x"), std::bad_alloc);
    EXPECT_THROW(throw kw::ModuleOutOfRange("x"), std::out_of_range);
}

TEST(ModuleError, ErrorThrownInsideASharedLibraryIsCaughtThroughTheInterface)
{
    const std::string message = kwtest::ExpectError<kw::ModuleError>(kw_probe_throw_located, "thrown inside the probe");
    // std::regex: GoogleTest's own expressions are too simple on Windows.
    EXPECT_TRUE(std::regex_match(message, std::regex("At ErrorProbe\\.cpp\\([0-9]+\\) in probe\\(\\)\nthrown inside the probe")))
        << message;
}
