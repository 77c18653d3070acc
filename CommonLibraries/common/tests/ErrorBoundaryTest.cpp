#include <kw/ErrorBoundary.h>
#include <kw/ModuleLoaderError.h>

#include "ExpectError.h"

#include <gtest/gtest.h>

#include <string>

namespace {
class AppErrorBase : public kw::ModuleError {};
class AppCommonErrorBase : public AppErrorBase {};
KW_DEFINE_ERROR(AppCommonError, std::domain_error, AppCommonErrorBase);
KW_DEFINE_ERROR(AppBadAllocation, std::bad_alloc, AppCommonErrorBase);

void LibraryStep(bool convert, void (*body)())
{
    int line = 0;
    auto run = [&] {
        KW_STEP(line);
        body();
    };
    if (convert)
        kw::LibraryBoundary<kw::ModuleLoaderBadAllocation, kw::ModuleLoaderCommonError>("lib/Lib.cpp", line, "lib", run);
    else
        kw::LibraryBoundary("lib/Lib.cpp", line, "lib", run);
}

void ProgramStep(void (*body)())
{
    int line = 0;
    kw::ProgramBoundary<AppBadAllocation, AppCommonError>("app\\App.cpp", line, "app", [&] {
        line = 77;
        body();
    });
}
} // namespace

TEST(ErrorBoundary, LibraryFormLocatesUnlocatedOwnErrorsAndKeepsInnerLocations)
{
    const std::string unlocated = kwtest::ExpectError<kw::ModuleRangeError>(
        [] { LibraryStep(false, [] { throw kw::ModuleRangeError("unlocated"); }); }, "unlocated");
    EXPECT_EQ(0u, unlocated.find("At Lib.cpp("));
    const std::string inner = kwtest::ExpectError<kw::ModuleRangeError>(
        [] { LibraryStep(false, [] { KW_RAISE(kw::ModuleRangeError("inner"), "inner"); }); }, "inner");
    EXPECT_NE(std::string::npos, inner.find("in inner()"));
}

TEST(ErrorBoundary, LibraryFormConvertsStandardExceptionsOnlyWhenAsked)
{
    EXPECT_THROW(LibraryStep(false, [] { throw std::runtime_error("plain"); }), std::runtime_error);
    const std::string converted = kwtest::ExpectError<kw::ModuleLoaderCommonError>(
        [] { LibraryStep(true, [] { throw std::runtime_error("plain"); }); }, "plain");
    EXPECT_EQ(0u, converted.find("At Lib.cpp("));
    EXPECT_THROW(LibraryStep(true, [] { throw std::bad_alloc(); }), kw::ModuleLoaderBadAllocation);
}

TEST(ErrorBoundary, ProgramFormConvertsEverythingAtTheNotedLine)
{
    EXPECT_EQ("At App.cpp(77) in app()\ndeep",
              kwtest::ExpectError<AppCommonError>(
                  [] { ProgramStep([] { KW_RAISE(kw::ModuleRangeError("deep"), "deep"); }); }, "deep"));
    try {
        ProgramStep([] { throw std::bad_alloc(); });
        FAIL();
    } catch (const AppCommonErrorBase& e) {
        EXPECT_NE(nullptr, dynamic_cast<const std::bad_alloc*>(&e.GetException()));
    }
}
