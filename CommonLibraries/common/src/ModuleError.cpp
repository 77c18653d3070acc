#include <kw/ModuleError.h>

#include <boost/exception/get_error_info.hpp>
#include <boost/format.hpp>

#include <cstring>
#include <exception>

namespace kw {

const char* SourceBaseName(const char* path)
{
    if (!path) return path;
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* last = slash > backslash ? slash : backslash;
    return last ? last + 1 : path;
}

ModuleError::~ModuleError() = default;

const char* ModuleError::Message() const
{
    if (message_cache_) return message_cache_.get();
    try {
        const char* text = What();
        if (!text) text = "unknown error";
        const boost::exception& e = GetException();
        const char* const* function = boost::get_error_info<boost::throw_function>(e);
        const char* const* file = boost::get_error_info<boost::throw_file>(e);
        const int* line = boost::get_error_info<boost::throw_line>(e);
        if (!function || !*function || !file || !*file || !line || *line == -1) return text;
        const std::string formatted = (boost::format("At %s(%d) in %s()\n%s") % *file % *line % *function % text).str();
        boost::shared_array<char> cache(new char[formatted.size() + 1]);
        std::memcpy(cache.get(), formatted.c_str(), formatted.size() + 1);
        message_cache_ = cache;
        return message_cache_.get();
    } catch (const std::exception&) {
        return "cannot do anything because of insufficient memory";
    }
}

namespace detail {

bool HasLocation(const boost::exception& e)
{
    const int* line = boost::get_error_info<boost::throw_line>(e);
    return line && *line != -1;
}

void StoreLocation(boost::exception& e, const char* file, int line, const char* function)
{
    e << boost::throw_function(function) << boost::throw_file(SourceBaseName(file)) << boost::throw_line(line);
}

} // namespace detail
} // namespace kw
