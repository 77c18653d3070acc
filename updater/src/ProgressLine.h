// The progress of stages 1 and 2: reported for the first piece, then each
// time another 4096 bytes are done, and for the piece that reaches the total.
#pragma once

#include "UpdateListener.h"

#include <cstdint>

namespace kw {
namespace updater {

class ProgressLine {
public:
    ProgressLine(UpdateListener& listener, std::uint64_t total) : listener_(listener), total_(total) {}
    void Update(std::uint64_t done);

private:
    UpdateListener& listener_;
    std::uint64_t total_;
    std::uint64_t threshold_ = 0;
};

} // namespace updater
} // namespace kw
