// How a fuzzer reports a broken promise of the code under test.
#pragma once

namespace kwfuzz {

// Prints `what` and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char* what);

} // namespace kwfuzz
