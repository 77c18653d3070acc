// Helpers of the program's unit tests: the error a call fails with, and the
// times a file or directory holds.
#pragma once

#include "KWUpdaterError.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>

namespace updatertest {

// The texts of an error: its own text, and for the program's errors the
// message that also names where it was raised ("At <file>(<line>) in
// <label>()\n<text>"); other errors have their text as the message.
struct Failure {
    std::string what, message;
};

// Runs `f`, which must throw an `Error`; a run that throws nothing is a test
// failure and gives empty texts.
template <class Error = KWUpdaterCommonError, class F>
Failure FailureOf(F f)
{
    try {
        f();
    } catch (const Error& e) {
        if constexpr (std::is_base_of<kw::ModuleError, Error>::value)
            return {e.What(), e.Message()};
        else
            return {e.what(), e.what()};
    }
    ADD_FAILURE() << "no failure";
    return {};
}

// Expects the times of `path` as counts of 100-ns ticks: the modification
// time everywhere, the creation time where the system keeps it (not under
// Wine).
inline void ExpectTimes(const kw::updater::Path& path, std::uint64_t created, std::uint64_t modified,
                        bool directories_too = false)
{
    kw::updater::FileTimes times;
    ASSERT_EQ(kw::updater::TimesResult::kDone, testsupport::SystemEnv().GetTimes(path, directories_too, times))
        << path;
    EXPECT_EQ(modified, testsupport::TicksOf(times.modified)) << path;
    if (!testsupport::UnderWine()) {
        EXPECT_EQ(created, testsupport::TicksOf(times.created)) << path;
    }
}

} // namespace updatertest
