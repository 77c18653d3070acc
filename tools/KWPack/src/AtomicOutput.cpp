// The parts of the atomic outputs that every system shares.
#include "AtomicOutput.h"

#include "PackError.h"

#include <boost/filesystem/operations.hpp>

#include <cerrno>
#include <cstring>

namespace fs = boost::filesystem;

namespace kwpack {

void RefuseExisting(const fs::path& target, bool overwrite)
{
    boost::system::error_code ec;
    if (!overwrite && fs::exists(fs::symlink_status(target, ec)))
        throw PackError(target.string() + " exists; use --force to replace it");
}

AtomicDirectory::~AtomicDirectory()
{
    if (!committed_) {
        boost::system::error_code ec;
        fs::remove_all(temp_, ec);
    }
}

void AtomicDirectory::Commit()
{
    boost::system::error_code ec;
    if (fs::exists(fs::symlink_status(target_, ec))) {
        if (!overwrite_) throw PackError(target_.string() + " exists; use --force to replace it");
        fs::remove_all(target_, ec);
        if (ec) throw PackError("cannot remove " + target_.string() + ": " + ec.message());
    }
    fs::rename(temp_, target_, ec);
    if (ec) throw PackError("cannot create " + target_.string() + ": " + ec.message());
    committed_ = true;
}

ScratchDirectory::~ScratchDirectory()
{
    boost::system::error_code ec;
    fs::remove_all(path_, ec);
}

ScratchFile::~ScratchFile()
{
    std::fclose(file_);
}

void ScratchFile::Write(const void* data, std::size_t size)
{
    if (size && std::fwrite(data, 1, size, file_) != size)
        throw PackError(std::string("cannot write the scratch file: ") + std::strerror(errno));
    size_ += size;
}

void ScratchFile::Rewind()
{
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)
        throw PackError(std::string("cannot write the scratch file: ") + std::strerror(errno));
}

std::size_t ScratchFile::Read(void* data, std::size_t size)
{
    std::size_t got = std::fread(data, 1, size, file_);
    if (got == 0 && std::ferror(file_)) throw PackError(std::string("cannot read the scratch file: ") + std::strerror(errno));
    return got;
}

} // namespace kwpack
