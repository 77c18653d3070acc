#include "AtomicFile.h"

#include "HeldFile.h"
#include "Platform.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace {

// Fills `temporary` with `write` and renames it over `target`; a failed
// attempt leaves no temporary file behind. The content is flushed before the
// rename when `flush` is set or `write` returns true: a fresh copy must never
// be renamed into place while its data may still be lost, whereas a hard link
// shares content that was flushed before.
template <class Write>
void PlaceAtomically(const fs::path& target, const fs::path& temporary, bool flush, Write write)
{
    try {
        fs::remove(temporary); // a stale one from an interrupted run
        if (write() || flush) platform::FlushFile(temporary);
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

void WriteFileAtomically(const fs::path& target, const fs::path& temporary, const void* data, std::size_t size)
{
    PlaceAtomically(target, temporary, true, [&] {
        std::ofstream out(temporary.c_str(), std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + temporary.string());
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
        return true;
    });
}

bool LinkOrCopyFile(const fs::path& source, const fs::path& target)
{
    boost::system::error_code link_failed;
    fs::create_hard_link(source, target, link_failed);
    if (!link_failed) return false;
    // Only a file system that cannot link these two files falls back to a
    // copy; a full disk or a denied directory is the failure it is.
    namespace errc = boost::system::errc;
    if (link_failed != errc::cross_device_link && link_failed != errc::operation_not_permitted &&
        link_failed != errc::operation_not_supported && link_failed != errc::too_many_links &&
        link_failed != errc::function_not_supported)
        throw fs::filesystem_error("cannot link the file", source, target, link_failed);
    platform::CopyFileContents(source, target);
    return true;
}

void CopyFileAtomically(const fs::path& source, const fs::path& target, const fs::path& temporary,
                        const boost::function<void(const fs::path&)>& before_rename)
{
    // Without a whole-file-system flush to come, each placed file and its
    // directory are flushed one by one.
    const bool one_by_one = !platform::FlushesWholeFileSystem();
    PlaceAtomically(target, temporary, one_by_one, [&] {
        const bool copied = LinkOrCopyFile(source, temporary);
        if (before_rename) before_rename(temporary);
        return copied;
    });
    if (one_by_one) platform::FlushDirectory(target.parent_path());
}
