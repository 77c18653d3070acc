// The compression library's own error family. It stands apart from
// kw::ModuleError: a caller catches errors of one direction by the tags
// Bz2CompressException / Bz2DecompressException, or all of them by
// Bz2Exception, and reads the text through the standard exception part.
#pragma once

#include <kw/ModuleError.h>

#include <new>
#include <stdexcept>

namespace kw {
namespace bz2 {

// Tags without data or virtual operations.
class KW_VISIBLE Bz2Exception {};
class KW_VISIBLE Bz2CompressException : public Bz2Exception {};
class KW_VISIBLE Bz2DecompressException : public Bz2Exception {};

// Standard parts of the data and unknown errors.
class KW_VISIBLE Bz2InvalidDataBase : public std::domain_error {
public:
    using std::domain_error::domain_error;
};
class KW_VISIBLE Bz2UnknownErrorBase : public std::domain_error {
public:
    using std::domain_error::domain_error;
};

template <class E>
class KW_VISIBLE Bz2TypeException : public kw_exception<E> {
public:
    explicit Bz2TypeException(const char* text) : kw_exception<E>(text) {}
};

// Direction tag first, the exception part second.
#define KW_BZ2_DEFINE_ERROR(Name, Tag, StdError)                                   \
    class KW_VISIBLE Name : public Tag, public Bz2TypeException<StdError> {        \
    public:                                                                        \
        explicit Name(const char* text) : Bz2TypeException<StdError>(text) {}      \
    }

KW_BZ2_DEFINE_ERROR(Bz2CompressParamError, Bz2CompressException, std::invalid_argument);
KW_BZ2_DEFINE_ERROR(Bz2CompressBadAllocation, Bz2CompressException, std::bad_alloc);
KW_BZ2_DEFINE_ERROR(Bz2CompressInvalidData, Bz2CompressException, Bz2InvalidDataBase);
KW_BZ2_DEFINE_ERROR(Bz2CompressUnknownError, Bz2CompressException, Bz2UnknownErrorBase);
KW_BZ2_DEFINE_ERROR(Bz2DecompressParamError, Bz2DecompressException, std::invalid_argument);
KW_BZ2_DEFINE_ERROR(Bz2DecompressBadAllocation, Bz2DecompressException, std::bad_alloc);
KW_BZ2_DEFINE_ERROR(Bz2DecompressInvalidData, Bz2DecompressException, Bz2InvalidDataBase);
KW_BZ2_DEFINE_ERROR(Bz2DecompressUnknownError, Bz2DecompressException, Bz2UnknownErrorBase);

#undef KW_BZ2_DEFINE_ERROR

} // namespace bz2
} // namespace kw
