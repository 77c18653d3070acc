// KWDecompress over arbitrary bytes, pushed whole and in pieces of varying
// sizes with different output buffer sizes: every way must give the same
// verdict and the same output.
#include "FuzzCheck.h"

#include <kw/bz2/KWDecompress.h>

#include <algorithm>
#include <cstdint>
#include <exception>

namespace {

// A bzip2 stream may expand thousands of times; past this the output is not
// followed further (the library has no limit of its own to test here).
const std::uint64_t kOutputCap = 32u << 20;

struct OutputCapReached {};

struct Outcome {
    bool ok = false;
    std::uint64_t length = 0;
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a over the output

    bool operator!=(const Outcome& o) const { return ok != o.ok || length != o.length || hash != o.hash; }
};

Outcome Decompress(const std::uint8_t* data, std::size_t size, const unsigned* pieces, std::size_t piece_count,
                   unsigned buffer_size, int small)
{
    Outcome outcome;
    const kw::bz2::Bz2Sink sink = [&](const void* bytes, unsigned count) {
        // Empty steps are delivered too; a step never exceeds the buffer.
        if (count > buffer_size) kwfuzz::Fail("a sink call of more than bufferSize bytes");
        const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
        for (unsigned i = 0; i < count; ++i) outcome.hash = (outcome.hash ^ p[i]) * 1099511628211ull;
        outcome.length += count;
        if (outcome.length > kOutputCap) throw OutputCapReached();
    };
    try {
        kw::bz2::KWDecompress decompressor(buffer_size, 0, small);
        std::size_t at = 0;
        std::size_t call = 0;
        do {
            const std::size_t n = std::min<std::size_t>(pieces[call++ % piece_count], size - at);
            decompressor.Decompress(data + at, static_cast<unsigned>(n), at + n == size, sink);
            at += n;
        } while (at < size);
        outcome.ok = true;
    } catch (const OutputCapReached&) {
        outcome = {true, kOutputCap + 1, 0};
    } catch (const std::exception&) {
        outcome = {false, 0, 0};
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const unsigned whole[] = {static_cast<unsigned>(std::max<std::size_t>(size, 1))};
    const unsigned varied[] = {1, 3, 200, 17, 4096};
    const Outcome reference = Decompress(data, size, whole, 1, 65536, 0);
    const Outcome pieces = Decompress(data, size, varied, 5, 777, 1);
    // Output cut at the cap is not comparable in content, only in verdict.
    if (reference.length > kOutputCap || pieces.length > kOutputCap) {
        if (reference.ok != pieces.ok) kwfuzz::Fail("the verdict depends on the piece sizes");
        return 0;
    }
    if (reference != pieces) kwfuzz::Fail("pieces or buffer size change the decompressed output");
    return 0;
}
