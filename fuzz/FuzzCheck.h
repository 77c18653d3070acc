// How a fuzzer reports a broken promise of the code under test, and runs
// code that may refuse its input.
#pragma once

#include <exception>

namespace kwfuzz {

// Prints `what` and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char* what);

// Runs `f`; false when it threw a std::exception, the way the code under
// test refuses bad input. Anything else it throws goes on.
template <class F>
bool Try(F&& f)
{
    try {
        f();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kwfuzz
