// How many bytes each KWDecompress::Decompress call of the sequential
// pipeline produces, worked out from where the blocks end, without decoding.
//
// libbz2 reads input bytes only as it needs them. A block is decoded in the
// call whose piece holds the byte with the block's last bit (the end of its
// end-of-block symbol); its output follows at once, into output buffers of
// `outputPiece` bytes. A call asks libbz2 for more while the last buffer came
// back full and input is left, so when a buffer fills as the piece runs out,
// the rest of the output comes at the start of the next call. When a buffer
// fills exactly at the end of a block, libbz2 still goes on into the next
// block with the input it has (it does not look at the output room there).
// Randomised blocks do not work this way and are not modelled.
#pragma once

#include <cstdint>
#include <deque>

namespace kw {
namespace bz2 {

class CallModel {
public:
    explicit CallModel(unsigned outputPiece) : outputPiece_(outputPiece) {}

    // Blocks in stream order: the absolute byte that holds the block's last
    // bit, and the size of its output.
    void AddBlock(std::uint64_t lastByte, std::uint64_t outputSize);
    // The absolute byte that holds the last bit of the stream's trailer.
    void SetStreamEnd(std::uint64_t lastByte);

    struct Call {
        std::uint64_t output = 0;
        bool streamEnded = false;  // libbz2 reported the end of the stream
        std::uint64_t inputLeft = 0; // bytes of the piece after the stream's end
    };
    // The next call, whose piece ends before absolute byte `pieceEnd`. Every
    // block ending before pieceEnd must have been added; a block not added
    // yet is taken to end at pieceEnd or later.
    Call Next(std::uint64_t pieceEnd);

private:
    struct Block {
        std::uint64_t lastByte;
        std::uint64_t size;
    };

    unsigned outputPiece_;
    std::deque<Block> blocks_;     // decoded or not yet, from the current one on
    bool outputting_ = false;      // the front block is decoded, output pending
    std::uint64_t pending_ = 0;    // its output not yet delivered
    bool endKnown_ = false;
    std::uint64_t endByte_ = 0;
    bool ended_ = false;
};

} // namespace bz2
} // namespace kw
