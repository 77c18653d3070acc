#include "Decompression.h"

#include "KWUpdaterError.h"
#include "PackageFormat.h"
#include "PackageReader.h"

#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>
#include <istream>

using namespace boost::placeholders;

namespace kw {
namespace updater {
namespace {
const unsigned kPieceSize = 65536;
} // namespace

void accept_bzip2(filter_data& state, const void* bytes, unsigned count)
{
    if (count == 0) return;
    if (count > kPieceSize) KW_FAIL("buffer overflow", "accept_bzip2");
    boost::shared_ptr<buffer_attribute> piece = boost::make_shared<buffer_attribute>();
    std::memcpy(piece->data, bytes, count);
    piece->size = count;
    state.queue.push_back(piece);

    if (state.header.size() < 8) {
        const std::size_t take = std::min<std::size_t>(8 - state.header.size(), count);
        state.header.append(static_cast<const char*>(bytes), take);
        if (state.header.size() == 8 &&
            get_version(state.header.data(), state.header.data() + 4, kInnerMagic) > kNewestPackageVersion)
            KW_FAIL("Update-file is newer than updater, please update updater", "accept_bzip2");
    }
    state.decompressed += count;
}

unsigned read_decompressed(kw::bz2::KWDecompress& decompressor, filter_data& state, void* destination, unsigned count)
{
    // A stretch of compressed input that yields nothing loops here; it never
    // deepens the call chain.
    while (state.queue.empty()) {
        state.read_buffer.resize(kPieceSize);
        state.input.read(state.read_buffer.data(), kPieceSize);
        const std::streamsize got = state.input.gcount();
        if (got <= 0) return 0;
        state.compressed_read += static_cast<std::uint64_t>(got);
        decompressor.Decompress(state.read_buffer.data(), static_cast<unsigned>(got),
                                state.compressed_read >= state.length,
                                boost::bind(&accept_bzip2, boost::ref(state), _1, _2));
        state.progress.Update(state.compressed_read);
    }
    buffer_attribute& front = *state.queue.front();
    const unsigned remaining = front.size - front.position;
    if (count < remaining) {
        std::memcpy(destination, front.data + front.position, count);
        front.position += count;
        return count;
    }
    std::memcpy(destination, front.data + front.position, remaining);
    state.queue.pop_front();
    return remaining;
}

namespace {

// Runs `read` on the decompressing source; its false result is a flaw of
// the stream.
template <class Read>
void Decompress(UpdateListener& listener, std::istream& input, std::uint64_t length, Read read)
{
    kw::bz2::KWDecompress decompressor(kPieceSize, 0, 0);
    filter_data state(listener, input, length);
    if (!read(boost::bind(&read_decompressed, boost::ref(decompressor), boost::ref(state), _1, _2)))
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
