// Runs a call that must fail with error class E and text `text`; returns the
// formatted message so a test can check the location.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kwtest {

template <class E, class F>
std::string ExpectError(F&& call, const char* text)
{
    try {
        call();
    } catch (const E& e) {
        EXPECT_STREQ(text, e.What());
        return e.Message();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception: " << e.what();
        return std::string();
    }
    ADD_FAILURE() << "no exception, expected \"" << text << "\"";
    return std::string();
}

} // namespace kwtest
