#include "ProgressLine.h"

#include <algorithm>

namespace kw {
namespace updater {

void ProgressLine::Update(std::uint64_t done)
{
    static const std::uint64_t kStep = 4096;
    if (done < threshold_) return;
    listener_.Progress(done, total_);
    threshold_ = std::min(threshold_ + kStep, total_);
}

} // namespace updater
} // namespace kw
