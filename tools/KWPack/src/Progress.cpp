#include "Progress.h"

#include <algorithm>
#include <cstdio>

namespace kwpack {
namespace {
bool g_draw = false;
constexpr int kBarWidth = 30;
} // namespace

void Progress::Enable(bool on)
{
    g_draw = on;
}

Progress::Progress(const std::string& label, std::uint64_t total)
    : label_(label), total_(total), active_(g_draw)
{
    Draw();
}

Progress::~Progress()
{
    // Left early (a failure): end the line where the bar stands.
    if (active_) std::fputc('\n', stderr);
}

void Progress::Advance(std::uint64_t amount)
{
    done_ += amount;
    Draw();
}

void Progress::Finish()
{
    if (!active_) return;
    done_ = std::max(done_, total_);
    shown_permille_ = -1;
    Draw();
    std::fputc('\n', stderr);
    active_ = false;
}

void Progress::Draw()
{
    if (!active_) return;
    int permille = total_ ? int(std::min<std::uint64_t>(done_, total_) * 1000 / total_) : 1000;
    // Redraw only when the shown value changes: the terminal is slow.
    if (permille == shown_permille_) return;
    shown_permille_ = permille;
    int filled = permille * kBarWidth / 1000;
    std::fprintf(stderr, "\r%-12s [%.*s%*s] %5.1f%%  %.1f / %.1f MiB", label_.c_str(), filled,
                 "##############################", kBarWidth - filled, "", permille / 10.0,
                 double(done_) / 1048576.0, double(total_) / 1048576.0);
    std::fflush(stderr);
}

} // namespace kwpack
