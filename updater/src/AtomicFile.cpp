#include "AtomicFile.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

boost::filesystem::path TemporarySibling(const boost::filesystem::path& target)
{
    boost::filesystem::path temporary = target;
    temporary += ".kwtmp";
    return temporary;
}

void WriteFileAtomically(const boost::filesystem::path& target, const void* data, std::size_t size)
{
    const boost::filesystem::path temporary = TemporarySibling(target);
    {
        std::ofstream out(temporary.string(), std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + temporary.string());
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.flush();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    boost::filesystem::rename(temporary, target);
}
