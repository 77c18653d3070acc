#include <kw/ErrorBoundary.h>
#include <kw/ModuleLoaderError.h>

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
    try {
        LibraryStep(false, [] { throw kw::ModuleRangeError("unlocated"); });
    } catch (const kw::ModuleRangeError& e) {
        EXPECT_EQ(0u, std::string(e.Message()).find("At Lib.cpp("));
    }
    try {
        LibraryStep(false, [] { KW_RAISE(kw::ModuleRangeError("inner"), "inner"); });
    } catch (const kw::ModuleRangeError& e) {
        EXPECT_NE(std::string::npos, std::string(e.Message()).find("in inner()"));
    }
}

TEST(ErrorBoundary, LibraryFormConvertsStandardExceptionsOnlyWhenAsked)
{
    EXPECT_THROW(LibraryStep(false, [] { throw std::runtime_error("plain"); }), std::runtime_error);
    try {
        LibraryStep(true, [] { throw std::runtime_error("plain"); });
        FAIL();
    } catch (const kw::ModuleLoaderCommonError& e) {
        EXPECT_EQ(0u, std::string(e.Message()).find("At Lib.cpp("));
        EXPECT_STREQ("plain", e.What());
    }
    EXPECT_THROW(LibraryStep(true, [] { throw std::bad_alloc(); }), kw::ModuleLoaderBadAllocation);
}

TEST(ErrorBoundary, ProgramFormConvertsEverythingAtTheNotedLine)
{
    try {
        ProgramStep([] { KW_RAISE(kw::ModuleRangeError("deep"), "deep"); });
        FAIL();
    } catch (const AppCommonError& e) {
        EXPECT_STREQ("At App.cpp(77) in app()\ndeep", e.Message());
    }
    try {
        ProgramStep([] { throw std::bad_alloc(); });
        FAIL();
    } catch (const AppCommonErrorBase& e) {
        EXPECT_NE(nullptr, dynamic_cast<const std::bad_alloc*>(&e.GetException()));
    }
}
