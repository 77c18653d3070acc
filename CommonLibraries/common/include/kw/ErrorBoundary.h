// The two ways a function boundary converts what escapes its body. The body
// keeps the line of its step in progress in `line` (see KW_STEP), so a
// converted error reports the step that failed.
#pragma once

#include <kw/ModuleError.h>

#include <exception>
#include <new>
#include <utility>

namespace kw {

// Notes the current source line as the step in progress.
#define KW_STEP(line_variable) ((line_variable) = __LINE__)

namespace detail {
template <class Error>
[[noreturn]] void ThrowConverted(const std::exception& caught, const char* file, int line, const char* function)
{
    Error converted(caught.what());
    converted.SetLocation(file, line, function);
    throw converted;
}
} // namespace detail

// Library form: an own error gets this location if it has none and passes on
// unchanged; with BadAlloc/Common given, other standard exceptions become them.
struct NoConversion {};

template <class BadAlloc = NoConversion, class Common = NoConversion, class Body>
decltype(auto) LibraryBoundary(const char* file, const int& line, const char* function, Body&& body)
{
    try {
        return std::forward<Body>(body)();
    } catch (ModuleError& e) {
        e.SetLocation(file, line, function);
        throw;
    } catch (const std::bad_alloc& e) {
        if constexpr (std::is_same<BadAlloc, NoConversion>::value) throw;
        else detail::ThrowConverted<BadAlloc>(e, file, line, function);
    } catch (const std::exception& e) {
        if constexpr (std::is_same<Common, NoConversion>::value) throw;
        else detail::ThrowConverted<Common>(e, file, line, function);
    }
}

// Program form: every standard exception, own errors included, becomes a new
// error of the program's family located at the converting step.
template <class BadAlloc, class Common, class Body>
decltype(auto) ProgramBoundary(const char* file, const int& line, const char* function, Body&& body)
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc& e) {
        detail::ThrowConverted<BadAlloc>(e, file, line, function);
    } catch (const std::exception& e) {
        detail::ThrowConverted<Common>(e, file, line, function);
    }
}

} // namespace kw
