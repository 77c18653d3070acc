#include "AtomicFile.h"

#include "HeldFile.h"
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
        boost::system::error_code failed;
        heldfile::RetryWhileHeld(target, [&] {
            fs::rename(temporary, target, failed);
            return !failed;
        });
        if (failed && platform::IsHeldOpen(target))
            throw std::runtime_error(heldfile::HeldText("cannot replace the file", target));
        if (failed) throw fs::filesystem_error("boost::filesystem::rename", temporary, target, failed);
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

void LinkOrCopyFile(const fs::path& source, const fs::path& target)
{
    boost::system::error_code link_failed;
    fs::create_hard_link(source, target, link_failed);
    if (!link_failed) return;
    // Only a file system that cannot link these two files falls back to a
    // copy; a full disk or a denied directory is the failure it is.
    namespace errc = boost::system::errc;
    if (link_failed != errc::cross_device_link && link_failed != errc::operation_not_permitted &&
        link_failed != errc::operation_not_supported && link_failed != errc::too_many_links &&
        link_failed != errc::function_not_supported)
        throw fs::filesystem_error("cannot link the file", source, target, link_failed);
    platform::CopyFileContents(source, target);
}

void CopyFileAtomically(const fs::path& source, const fs::path& target,
                        const boost::function<void(const fs::path&)>& before_rename)
{
    PlaceAtomically(target, [&](const fs::path& temporary) {
        fs::remove(temporary); // a stale one from an interrupted run
        LinkOrCopyFile(source, temporary);
        if (before_rename) before_rename(temporary);
    });
}
