#include "AtomicFile.h"

#include "Platform.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace {

// Fills the temporary sibling with `write` and renames it over `target`; a
// failed attempt leaves no temporary file behind.
template <class Write>
void PlaceAtomically(const fs::path& target, Write write)
{
    const fs::path temporary = TemporarySibling(target);
    try {
        write(temporary);
        platform::FlushFileIfNeeded(temporary);
        fs::rename(temporary, target);
    } catch (...) {
        boost::system::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

} // namespace

fs::path TemporarySibling(const fs::path& target)
{
    fs::path temporary = target;
    temporary += ".kwtmp";
    return temporary;
}

void WriteFileAtomically(const fs::path& target, const void* data, std::size_t size)
{
    PlaceAtomically(target, [&](const fs::path& temporary) {
        std::ofstream out(temporary.c_str(), std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + temporary.string());
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    });
}

void CopyFileAtomically(const fs::path& source, const fs::path& target,
                        const boost::function<void(const fs::path&)>& before_rename)
{
    PlaceAtomically(target, [&](const fs::path& temporary) {
        fs::copy_file(source, temporary, fs::copy_option::overwrite_if_exists);
        if (before_rename) before_rename(temporary);
    });
}
