// Failures of the producer. Each carries a text meant for the person at the
// terminal; the entry point prints it and ends with a non-zero exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace kwpack {

class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line the tool cannot act on; reported with the usage text.
class UsageError : public PackError {
public:
    using PackError::PackError;
};

// Runs `step`; a failure raises PackError with `context`, a colon and the
// failure's own text.
template <class Step>
auto Explained(const std::string& context, Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const std::exception& e) {
        throw PackError(context + ": " + e.what());
    }
}

} // namespace kwpack
