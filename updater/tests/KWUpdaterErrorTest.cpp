#include "KWUpdaterError.h"
#include "UpdaterTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

TEST(KWUpdaterError, BadAllocationIsBothAStandardAndAnUpdaterCommonError)
{
    const auto raise = [] { KW_RAISE(KWUpdaterBadAllocation("no memory"), "test"); };
    EXPECT_EQ("no memory", updatertest::FailureOf<std::bad_alloc>(raise).what);
    EXPECT_THAT(updatertest::FailureOf<KWUpdaterCommonErrorBase>(raise).message,
                testing::HasSubstr("in test()\nno memory"));
    EXPECT_THROW(KW_FAIL("text", "test"), std::domain_error);
}
