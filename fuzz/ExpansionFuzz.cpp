// Stage 2's source chain over arbitrary bytes: the decompressing source
// (expand_bzip2 over DecompressingSource) feeding the archive loader,
// then, for a complete archive, `construct` into a scratch directory that is
// emptied after every input.
//
// Nothing may be written outside the scratch directory. `construct` refuses
// unsafe names itself; the fuzzer does not rely on that: an archive with a
// name that could leave its directory ("/" inside, "." or "..") is never
// constructed; instead the fuzzer checks that the name policy refuses it.
#include "ArchiveWalk.h"

#include "ArchiveExpansion.h"
#include "Decompression.h"
#include "NativeText.h"
#include "SafeName.h"

#include <kw/archive/ArchiveLoader.h>
#include <kw/bz2/KWDecompress.h>

#include <boost/filesystem/operations.hpp>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fs = boost::filesystem;
using namespace kw::updater;

namespace {

// The whole decompressed archive is held in memory by design; the fuzzer
// follows streams up to this size only, so that bzip2's high ratios do not
// turn into out-of-memory reports.
const std::uint64_t kDecompressedCap = 8u << 20;
// Keeps the file-system work per input small.
const std::uint64_t kMaxConstructNodes = 64;
const std::uint64_t kMaxConstructBytes = 256u << 10;

fs::path g_scratch;
UpdateListener g_silent; // stage 2 reports progress; nobody listens here

// True when the input decompresses (as far as it is valid) to at most the
// cap; the sink stops the decompression once the total passes it.
bool WithinCap(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t total = 0;
    kwfuzz::Try([&] {
        kw::bz2::KWDecompress decompressor(65536, 0, 0);
        decompressor.Decompress(data, static_cast<unsigned>(size), true, [&](const void*, unsigned count) {
            if ((total += count) > kDecompressedCap) throw std::length_error("past the cap");
        });
    });
    return total <= kDecompressedCap;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_scratch = fs::temp_directory_path() / fs::unique_path("kwfuzz-expansion-%%%%-%%%%-%%%%");
    fs::create_directories(g_scratch);
    std::atexit([] { fs::remove_all(g_scratch); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!WithinCap(data, size)) return 0;

    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    kw::archive::ArchiveLoader loader;
    const bool complete = kwfuzz::Try([&] { expand_bzip2(g_silent, input, loader, size); });

    bool may_construct = complete;
    const kwfuzz::ArchiveSummary summary = kwfuzz::WalkArchive(*loader.GetBody(), [&](const std::string& name) {
        std::string decoded; // a name without a file-name form is refused by construct before writing
        if (!kwfuzz::Try([&] { decoded = NarrowToPath(name).native(); })) return;
        // A name that, if accepted, could reach outside the directory it is placed in.
        if (decoded == "." || decoded == ".." || decoded.find('/') != std::string::npos) {
            may_construct = false;
            if (!safename::ComponentProblem(decoded)) kwfuzz::Fail("the name policy accepts a name that escapes");
        }
    });
    if (complete && !summary.has_top) kwfuzz::Fail("a complete expansion without the top directory");
    if (!may_construct || summary.nodes > kMaxConstructNodes || summary.bytes > kMaxConstructBytes) return 0;

    const fs::path extract = g_scratch / "extract";
    kwfuzz::Try([&] { construct(Env::Default(), *loader.GetBody(), extract); });
    fs::remove_all(extract);
    return 0;
}
