#include "SequentialReader.h"

#include <algorithm>
#include <cstring>

namespace kw {
namespace bz2 {

SequentialReader::SequentialReader(const ReaderSetup& setup)
    : setup_(setup), decompressor_(setup.outputPiece, 0, 0)
{
}

void SequentialReader::Skip(const ReaderProgress& done) { skip_ = done; }

void SequentialReader::Accept(const void* bytes, unsigned count)
{
    if (count == 0) return;
    const char* data = static_cast<const char*>(bytes);
    // The head is made of the first bytes, also of those passed over.
    const bool headWasShort = head_.size() < setup_.headSize;
    if (headWasShort) head_.append(data, std::min<std::size_t>(setup_.headSize - head_.size(), count));
    const unsigned skipped = static_cast<unsigned>(std::min<std::uint64_t>(skip_.bytes, count));
    skip_.bytes -= skipped;
    if (skipped < count) queue_.emplace_back(data + skipped, count - skipped);
    if (headWasShort && head_.size() == setup_.headSize && !skip_.headChecked && setup_.headCheck)
        setup_.headCheck(head_.data(), setup_.headSize);
}

unsigned SequentialReader::Read(void* destination, unsigned count)
{
    while (queue_.empty()) {
        input_.resize(setup_.inputPiece);
        const unsigned got = setup_.source(input_.data(), setup_.inputPiece);
        if (got == 0) return 0;
        if (got > setup_.inputPiece)
            KW_RAISE(Bz2DecompressParamError("the source returned more bytes than asked for"), "SequentialReader::Read");
        compressedRead_ += got;
        decompressor_.Decompress(input_.data(), got, compressedRead_ >= setup_.length,
                                 [this](const void* bytes, unsigned n) { Accept(bytes, n); });
        if (++hooks_ > skip_.hooks && setup_.readHook) setup_.readHook(compressedRead_);
    }
    const std::string& front = queue_.front();
    const std::size_t n = std::min<std::size_t>(count, front.size() - frontTaken_);
    if (n != 0) std::memcpy(destination, front.data() + frontTaken_, n);
    frontTaken_ += n;
    if (frontTaken_ == front.size()) {
        queue_.pop_front();
        frontTaken_ = 0;
    }
    return static_cast<unsigned>(n);
}

} // namespace bz2
} // namespace kw
