// The progress of stages 1 and 2: reported for the first piece, then each
// time another 4096 bytes are done, and for the piece that reaches the total.
#pragma once

#include "UpdateListener.h"

#include <algorithm>
#include <cstdint>

namespace kw {
namespace updater {

class ProgressLine {
public:
    ProgressLine(UpdateListener& listener, std::uint64_t total) : listener_(listener), total_(total) {}
    void Update(std::uint64_t done)
    {
        static const std::uint64_t kStep = 4096;
        if (done < threshold_) return;
        listener_.Progress(done, total_);
        threshold_ = std::min(threshold_ + kStep, total_);
    }

private:
    UpdateListener& listener_;
    std::uint64_t total_;
    std::uint64_t threshold_ = 0;
};

} // namespace updater
} // namespace kw
