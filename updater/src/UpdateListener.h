// What the stages tell the user, reported as events rather than written:
// the console program prints them (ConsoleListener), KWPack's checks run the
// same stages and show nothing. Every method does nothing by default.
#pragma once

#include <cstdint>
#include <string>

namespace kw {
namespace updater {

class UpdateListener {
public:
    virtual ~UpdateListener() = default;

    virtual void BeginStage(int /*stage*/) {}
    // The stage's record is written.
    virtual void StageCompleted(int /*stage*/) {}
    // `done` of `total` bytes; the stage decides how often.
    virtual void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    // Stage 1 ends its progress line itself.
    virtual void ProgressEnded() {}
    // A line of the script's work, in narrow text: " copy file: bin/a.dll".
    virtual void ScriptLine(const std::string& /*narrow*/) {}
    // The script's versions, as the script has them (UTF-8).
    virtual void BeginUpdate(const std::string& /*from_utf8*/, const std::string& /*to_utf8*/) {}
    // The clean-up after stage 4 failed: its error (when it raised one, in
    // the console's text), then what the user may remove by hand.
    virtual void CleanUpError(const std::string& /*console_text*/) {}
    virtual void CleanUpFailed(const std::string& /*package_name_narrow*/) {}
};

class Env;

// Everything a stage reaches the outside world through.
struct Context {
    Env& env;
    UpdateListener& listener;
};

} // namespace updater
} // namespace kw
