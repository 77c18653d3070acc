// The update stopped before one operation after another in this process,
// through the fault-injecting environment, with and without what a power
// cut loses, then run again: on every system, so that the Windows build
// runs these under Wine too.
#include "CrashRuns.h"
#include "FaultEnv.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {
namespace {

// Under Wine every file operation passes through the emulator: fewer points.
long Budget() { return testsupport::UnderWine() ? 40 : 80; }

Interruption InProcess(const Scenario& scenario)
{
    Env& system = Env::Default();
    return Interruption{
        [&scenario, &system] {
            scenario.Install();
            FaultEnv counting(system);
            const ChildResult run = scenario.RunInProcess(counting);
            if (run.exit_code != 0 || !run.err.empty()) throw std::runtime_error("the undisturbed update failed: " + run.err);
            const std::string differences = scenario.Differences();
            if (!differences.empty()) throw std::runtime_error("the undisturbed update differs:\n" + differences);
            return OperationLog(counting.Operations());
        },
        [&scenario, &system](long point, const fs::path& journal) {
            FaultEnv env(system);
            env.StopAt(point);
            if (!journal.empty()) env.KeepPowerJournal(journal, scenario.root());
            ChildResult run = scenario.RunInProcess(env);
            // A stop inside a stream's write ends the run as a write error would.
            if (env.Stopped()) run.signal = kKillSignal;
            return run;
        },
        [&scenario, &system] { return scenario.RunInProcess(system); }};
}

TEST(InProcessInterruption, EveryStopRecoversAlsoWhenWhatWasNotFlushedIsLost)
{
    const Scenario scenario(4, 6);
    const Interruption interruption = InProcess(scenario);
    KillEverywhere(scenario, interruption, Loss::None, "stop", Budget());
    KillEverywhere(scenario, interruption, Loss::Data, "power 1", Budget());
    KillEverywhere(scenario, interruption, Loss::DataAndDirectories, "power 2", Budget());
}

// A run ended once stage 4 is recorded, before its clean-up: the installation
// is updated, and the next run only cleans up and reports success.
TEST(InProcessInterruption, ARunEndedAfterStageFourIsRecordedOnlyCleansUpNext)
{
    const Scenario scenario(1, 3);
    const Interruption interruption = InProcess(scenario);
    const OperationLog log = interruption.record();
    scenario.Install();
    ASSERT_EQ(kKillSignal, interruption.stop(log.StageRecord(4) + 1, fs::path()).signal);
    ASSERT_EQ(std::string("\x04\x00\x00\x00", 4), scenario.StageFileBytes());
    // The rerun only cleans up, and nothing of the update is left.
    const ChildResult rerun = interruption.rerun();
    ExpectCompleted(scenario, rerun);
    EXPECT_EQ("Update was completed successfully.\nPress enter key to exit updater.\n", rerun.out);
}

} // namespace
} // namespace crash
