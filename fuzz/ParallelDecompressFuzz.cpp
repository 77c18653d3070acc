// KWParallelDecompress with 2 workers against its sequential pipeline
// (workers 0) over arbitrary bytes, and over a valid stream of several blocks
// with the input spliced in, so that the parallel path gets past the stream
// header: the same bytes, head check, read hooks and error, in the same order.
#include "Bz2Bytes.h"
#include "FuzzCheck.h"

#include <kw/bz2/KWParallelDecompress.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

using kwfuzz::kOutputCap;

namespace {

// Two blocks of level 1 from mixed bytes, made once with the library.
const std::string& ValidStream()
{
    static const std::string stream = [] {
        std::string plain;
        std::uint32_t x = 12345;
        while (plain.size() < 150000) {
            x = x * 1103515245u + 12345u;
            const unsigned kind = (x >> 16) % 4;
            const std::size_t run = 1 + (x >> 8) % 3000;
            for (std::size_t i = 0; i < run; ++i) {
                x = x * 1103515245u + 12345u;
                plain.push_back(kind == 0 ? static_cast<char>(x >> 24) : kind == 1 ? 'a' + (x >> 24) % 4 : 'z');
            }
        }
        return kwfuzz::Compress(plain, 1);
    }();
    return stream;
}

// Both readers stop at the output cap; what came before is compared.
struct Outcome {
    std::string log; // events, each with the number of bytes read before it
    kwfuzz::OutputDigest output;
};

Outcome Read(const std::string& stream, unsigned workers, unsigned inputPiece, unsigned outputPiece, unsigned headSize)
{
    Outcome outcome;
    std::size_t position = 0;
    const kw::bz2::Bz2Source source = [&](void* buffer, unsigned count) {
        const std::size_t n = std::min<std::size_t>(count, stream.size() - position);
        if (n != 0) std::memcpy(buffer, stream.data() + position, n);
        position += n;
        return static_cast<unsigned>(n);
    };
    const kw::bz2::Bz2Rewind rewind = [&] { position = 0; };
    const auto note = [&](const std::string& event) {
        outcome.log += event + " at " + std::to_string(outcome.output.length) + "\n";
    };
    const kw::bz2::Bz2HeadCheck headCheck = [&](const void* bytes, unsigned count) {
        note("head " + std::string(static_cast<const char*>(bytes), count));
    };
    const kw::bz2::Bz2ReadHook hook = [&](std::uint64_t read) { note("hook " + std::to_string(read)); };
    try {
        kw::bz2::KWParallelDecompress reader(source, rewind, stream.size(), inputPiece, outputPiece, headCheck,
                                             headSize, hook, workers);
        std::vector<unsigned char> buffer(65536);
        while (outcome.output.length < kOutputCap) {
            const unsigned want =
                static_cast<unsigned>(std::min<std::uint64_t>(buffer.size(), kOutputCap - outcome.output.length));
            const unsigned got = reader.Read(buffer.data(), want);
            if (got > want) kwfuzz::Fail("Read returned more than asked for");
            if (got == 0) break;
            outcome.output.Add(buffer.data(), got);
        }
    } catch (const std::exception& e) {
        note(std::string("error ") + typeid(e).name() + " " + e.what());
    }
    return outcome;
}

void Compare(const std::string& stream, unsigned inputPiece, unsigned outputPiece, unsigned headSize)
{
    const Outcome sequential = Read(stream, 0, inputPiece, outputPiece, headSize);
    const Outcome parallel = Read(stream, 2, inputPiece, outputPiece, headSize);
    if (sequential.output != parallel.output) kwfuzz::Fail("the workers change the decompressed bytes");
    if (sequential.log != parallel.log) kwfuzz::Fail("the workers change the head check, hooks or error");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    // Sizes from the first bytes, small ones often: pieces that end inside
    // blocks and output buffers that fill at block ends.
    const unsigned inputPiece = 1 + (data[0] << 8 | data[1]) % 70000;
    const unsigned outputPiece = 1 + (data[2] * 251u) % 65536;
    const unsigned headSize = data[3] % 16;
    const std::string input(reinterpret_cast<const char*>(data) + 4, size - 4);
    Compare(input, inputPiece, outputPiece, headSize);

    // The input over the valid stream at a place it chooses, or after it.
    std::string spliced = ValidStream();
    if (!input.empty()) {
        const std::size_t at = (std::size_t{data[1]} << 16 | data[0] << 8 | data[3]) % (spliced.size() + 1);
        if (data[2] & 1)
            spliced.replace(at, std::min(input.size(), spliced.size() - at), input);
        else
            spliced.insert(at, input);
    }
    Compare(spliced, inputPiece, outputPiece, headSize);
    return 0;
}
