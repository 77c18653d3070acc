#include "Decompression.h"

#include "KWUpdaterError.h"
#include "PackageFormat.h"
#include "PackageReader.h"

#include <algorithm>
#include <istream>
#include <thread>

namespace kw {
namespace updater {
namespace {
const unsigned kPieceSize = 65536;
const unsigned kInnerHeaderSize = 8;
} // namespace

void check_inner_header(const void* bytes, unsigned count)
{
    if (count < kInnerHeaderSize) return;
    const char* header = static_cast<const char*>(bytes);
    if (get_version(header, header + 4, kInnerMagic) > kNewestPackageVersion)
        KW_FAIL("Update-file is newer than updater, please update updater", "check_inner_header");
}

DecompressingSource::DecompressingSource(UpdateListener& listener, std::istream& input, std::uint64_t length,
                                         unsigned workers)
    : input_(input), progress_(listener, length),
      reader_([this](void* buffer, unsigned count) { return ReadInput(buffer, count); }, [this] { Rewind(); },
              length, kPieceSize, kPieceSize, &check_inner_header, kInnerHeaderSize,
              [this](std::uint64_t done) { progress_.Update(done); }, workers)
{
}

unsigned DecompressingSource::DefaultWorkers() { return std::max(1u, std::thread::hardware_concurrency()); }

unsigned DecompressingSource::ReadInput(void* buffer, unsigned count)
{
    input_.read(static_cast<char*>(buffer), count);
    return static_cast<unsigned>(std::max<std::streamsize>(0, input_.gcount()));
}

void DecompressingSource::Rewind()
{
    input_.clear();
    if (!input_.seekg(0)) KW_FAIL("cannot read temporary file again", "DecompressingSource");
}

namespace {

// Runs `read` on the decompressing source; its false result is a flaw of
// the stream.
template <class Read>
void Decompress(UpdateListener& listener, std::istream& input, std::uint64_t length, Read read)
{
    DecompressingSource source(listener, input, length);
    if (!read([&source](void* destination, unsigned count) { return source.Read(destination, count); }))
        KW_FAIL("an error occurred while decompression", "expand_bzip2");
}

} // namespace

void expand_bzip2(UpdateListener& listener, std::istream& input, kw::archive::ArchiveLoader& loader,
                  std::uint64_t length)
{
    Decompress(listener, input, length,
               [&](const kw::archive::ArchiveLoader::Source& source) { return loader.ReadFromStream(source); });
}

void expand_bzip2(UpdateListener& listener, std::istream& input, std::uint64_t length,
                  kw::archive::ArchiveVisitor& visitor)
{
    Decompress(listener, input, length, [&](const kw::archive::ArchiveLoader::Source& source) {
        return kw::archive::VisitArchiveStream(source, visitor);
    });
}

} // namespace updater
} // namespace kw
