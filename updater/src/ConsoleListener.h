// The console program's listener: stage, progress and script lines on
// standard output, clean-up failures on standard error, each line flushed.
#pragma once

#include "UpdateListener.h"

namespace kw {
namespace updater {

class ConsoleListener : public UpdateListener {
public:
    static constexpr int kTotalStages = 4;

    void BeginStage(int stage) override;
    void StageCompleted(int stage) override;
    void Progress(std::uint64_t done, std::uint64_t total) override;
    void ProgressEnded() override;
    void ScriptLine(const std::string& narrow) override;
    void BeginUpdate(const std::string& from_utf8, const std::string& to_utf8) override;
    void CleanUpError(const std::string& console_text) override;
    void CleanUpFailed(const std::string& package_name_narrow) override;
};

} // namespace updater
} // namespace kw
