// KWDecompress over arbitrary bytes, pushed whole and in pieces of varying
// sizes with different output buffer sizes: every way must give the same
// verdict and the same output.
#include "Bz2Bytes.h"
#include "FuzzCheck.h"

#include <kw/bz2/KWDecompress.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

using kwfuzz::kOutputCap;

namespace {

struct OutputCapReached {};

struct Outcome {
    bool ok = false;
    kwfuzz::OutputDigest output;
};

Outcome Decompress(const std::uint8_t* data, std::size_t size, const std::vector<unsigned>& pieces,
                   unsigned buffer_size, int small)
{
    Outcome outcome;
    const kw::bz2::Bz2Sink sink = [&](const void* bytes, unsigned count) {
        // Empty steps are delivered too; a step never exceeds the buffer.
        if (count > buffer_size) kwfuzz::Fail("a sink call of more than bufferSize bytes");
        outcome.output.Add(bytes, count);
        if (outcome.output.length > kOutputCap) throw OutputCapReached();
    };
    try {
        kw::bz2::KWDecompress decompressor(buffer_size, 0, small);
        std::size_t at = 0;
        std::size_t call = 0;
        do {
            const std::size_t n = std::min<std::size_t>(pieces[call++ % pieces.size()], size - at);
            decompressor.Decompress(data + at, static_cast<unsigned>(n), at + n == size, sink);
            at += n;
        } while (at < size);
        outcome.ok = true;
    } catch (const OutputCapReached&) {
        outcome.ok = true; // the output length past the cap marks the cut
    } catch (const std::exception&) {
        outcome = {};
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Outcome reference = Decompress(data, size, {static_cast<unsigned>(std::max<std::size_t>(size, 1))}, 65536, 0);
    const Outcome pieces = Decompress(data, size, {1, 3, 200, 17, 4096}, 777, 1);
    // Output cut at the cap is not comparable in content, only in verdict.
    if (reference.ok != pieces.ok) kwfuzz::Fail("the verdict depends on the piece sizes");
    const bool cut = reference.output.length > kOutputCap || pieces.output.length > kOutputCap;
    if (!cut && reference.output != pieces.output) kwfuzz::Fail("pieces or buffer size change the decompressed output");
    return 0;
}
