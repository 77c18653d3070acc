// Work on a range split over threads, for the block ciphers' independent
// blocks (ECB): the updater's decryption and KWPack's encryption.
#pragma once

#include <cstddef>
#include <future>
#include <vector>

namespace kw {
namespace updater {

// Runs `work(first, count)` over consecutive slices of [0, total) on `jobs`
// threads, this one included; each slice but the last is a multiple of
// `unit` long. Returns when every slice is done; the first failure is raised.
template <class Work>
void RunInSlices(std::size_t total, std::size_t unit, unsigned jobs, Work work)
{
    const std::size_t units = (total + unit - 1) / unit;
    const std::size_t slice = jobs > 1 ? (units + jobs - 1) / jobs * unit : total;
    if (slice == 0) return;
    std::vector<std::future<void>> others;
    for (std::size_t at = slice; at < total; at += slice)
        others.push_back(std::async(std::launch::async, work, at, std::min(slice, total - at)));
    work(0, std::min(slice, total));
    for (std::future<void>& other : others) other.get();
}

} // namespace updater
} // namespace kw
