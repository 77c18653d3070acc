// Failures of the producer. Each carries a text meant for the person at the
// terminal; the entry point prints it and ends with a non-zero exit code.
#pragma once

#include <stdexcept>

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

} // namespace kwpack
