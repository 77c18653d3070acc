// The common error interface shared by every deliverable, the exception
// template that joins Boost's location fields with a standard exception, and
// the single way own code raises errors.
#pragma once

#include <kw/Export.h>

#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>
#include <boost/shared_array.hpp>
#include <boost/throw_exception.hpp>

#include <new>
#include <stdexcept>
#include <string>

namespace kw {

// Reduces a source path to the part after the last '/' or '\\'.
KW_VISIBLE const char* SourceBaseName(const char* path);

class KW_VISIBLE ModuleError {
public:
    virtual ~ModuleError();
    virtual boost::exception& GetException() = 0;
    virtual const boost::exception& GetException() const = 0;
    virtual const char* What() const = 0;
    // Records the location unless the error already has one.
    virtual void SetLocation(const char* file, int line, const char* function) = 0;

    // "At <file>(<line>) in <function>()\n<text>" when located, else the bare
    // text. Never throws; the pointer lives as long as the error or a copy.
    const char* Message() const;

protected:
    ModuleError() = default;
    ModuleError(const ModuleError&) = default;
    ModuleError& operator=(const ModuleError&) = default;

private:
    mutable boost::shared_array<char> message_cache_;
};

template <class E>
class KW_VISIBLE kw_exception : public boost::exception, public E {
public:
    explicit kw_exception(const char* text) : E(text) {}
};

// std::bad_alloc has no message constructor: keep the text ourselves.
template <>
class KW_VISIBLE kw_exception<std::bad_alloc> : public boost::exception, public std::bad_alloc {
public:
    explicit kw_exception(const char* text) : text_(text ? text : "") {}
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

namespace detail {
// Shared by every concrete error: location handling over Boost's fields.
KW_VISIBLE bool HasLocation(const boost::exception& e);
KW_VISIBLE void StoreLocation(boost::exception& e, const char* file, int line, const char* function);
} // namespace detail

} // namespace kw

// Defines a concrete error class: the kw_exception<StdError> part first, the
// ModuleError branch (through Tag) second, the four operations filled in.
#define KW_DEFINE_ERROR(Name, StdError, Tag)                                              \
    class KW_VISIBLE Name : public ::kw::kw_exception<StdError>, public Tag {               \
    public:                                                                               \
        explicit Name(const char* text) : ::kw::kw_exception<StdError>(text) {}           \
        boost::exception& GetException() override { return *this; }                       \
        const boost::exception& GetException() const override { return *this; }           \
        const char* What() const override { return this->what(); }                        \
        void SetLocation(const char* file, int line, const char* function) override {     \
            if (!::kw::detail::HasLocation(*this))                                        \
                ::kw::detail::StoreLocation(*this, file, line, function);                 \
        }                                                                                 \
    }

namespace kw {

// Copies the error, stores the location in the copy and throws it through
// boost::throw_exception so it can be captured as an exception pointer.
template <class Error>
[[noreturn]] void RaiseWithLocation(const char* file, const Error& error, int line, const char* function)
{
    Error located(error);
    detail::StoreLocation(located, file, line, function);
    boost::throw_exception(located);
}

} // namespace kw

// Raise an error at this source line with a function label.
#define KW_RAISE(error, label) ::kw::RaiseWithLocation(__FILE__, error, __LINE__, label)
