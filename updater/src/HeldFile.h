// Windows refuses to open or replace a file that another process holds open
// without sharing it (the running product, a virus scanner). Such a hold
// often goes away soon, so the step is tried again for about a second in
// all; a hold that stays fails with a text that names the file.
#pragma once

#include "Env.h"
#include "NativeText.h"

#include <chrono>
#include <string>
#include <thread>

namespace kw {
namespace updater {

constexpr int kHeldRetries = 10;
constexpr std::chrono::milliseconds kHeldPause(100);

// Runs `attempt` (returning true on success) again while it fails and
// `file` is held open by another process against `use`; returns its last
// result.
template <class Attempt>
bool RetryWhileHeld(Env& env, const Path& file, Env::Use use, Attempt attempt)
{
    for (int retry = 0;; ++retry) {
        if (attempt()) return true;
        if (retry == kHeldRetries || !env.IsHeldOpen(file, use)) return false;
        std::this_thread::sleep_for(kHeldPause);
    }
}

// "<what>: <file> is in use by another process", the file as narrow text.
inline std::string HeldText(const std::string& what, const Path& file)
{
    return what + ": " + PathToNarrow(file) + " is in use by another process";
}

} // namespace updater
} // namespace kw
