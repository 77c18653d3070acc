#include "CallModel.h"

#include <algorithm>

namespace kw {
namespace bz2 {

void CallModel::AddBlock(std::uint64_t lastByte, std::uint64_t outputSize)
{
    blocks_.push_back(Block{lastByte, outputSize});
}

void CallModel::SetStreamEnd(std::uint64_t lastByte)
{
    endKnown_ = true;
    endByte_ = lastByte;
}

CallModel::Call CallModel::Next(std::uint64_t pieceEnd)
{
    Call call;
    // Where libbz2 stopped reading; nothing of the piece is read yet.
    std::uint64_t readTo = 0;
    std::uint64_t room = 0;
    // One BZ2_bzDecompress per turn, each with an empty output buffer, while
    // the buffer comes back full and input is left.
    do {
        room = outputPiece_;
        for (;;) {
            if (outputting_) {
                const std::uint64_t n = std::min(pending_, room);
                pending_ -= n;
                room -= n;
                call.output += n;
                if (pending_ > 0) break; // the buffer is full
                outputting_ = false;
                blocks_.pop_front();
            }
            if (!blocks_.empty() && blocks_.front().lastByte < pieceEnd) {
                readTo = blocks_.front().lastByte + 1;
                outputting_ = true;
                pending_ = blocks_.front().size;
                continue;
            }
            if (blocks_.empty() && endKnown_ && endByte_ < pieceEnd && !ended_) {
                ended_ = true;
                call.streamEnded = true;
                call.inputLeft = pieceEnd - (endByte_ + 1);
                return call;
            }
            readTo = pieceEnd; // the block or trailer goes on past the piece
            break;
        }
    } while (room == 0 && readTo < pieceEnd);
    return call;
}

} // namespace bz2
} // namespace kw
