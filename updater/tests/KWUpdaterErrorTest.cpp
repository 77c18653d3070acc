#include "KWUpdaterError.h"

#include <gtest/gtest.h>

#include <new>

TEST(KWUpdaterError, BadAllocationIsBothAStandardAndAnUpdaterCommonError)
{
    bool as_bad_alloc = false, as_common = false;
    try {
        KW_RAISE(KWUpdaterBadAllocation("no memory"), "test");
    } catch (const std::bad_alloc& e) {
        as_bad_alloc = std::string(e.what()) == "no memory";
    }
    try {
        KW_RAISE(KWUpdaterBadAllocation("no memory"), "test");
    } catch (const KWUpdaterCommonErrorBase& e) {
        as_common = std::string(e.Message()).find("in test()\nno memory") != std::string::npos;
    }
    EXPECT_TRUE(as_bad_alloc);
    EXPECT_TRUE(as_common);
    EXPECT_THROW(KW_FAIL("text", "test"), std::domain_error);
}
