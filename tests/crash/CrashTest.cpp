// Kills KWUpdater with SIGKILL before one file-system operation after another,
// across all four stages and the clean-up, then runs it again with the same
// package: every interrupted update must finish by itself with the new tree.
// The power-cut passes also drop, before the rerun, what a file system may
// lose of what was not flushed; no file of the installation may then ever
// be neither the old nor the new version.
#include "CrashRuns.h"
#include "PowerCut.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <csignal>

namespace fs = boost::filesystem;

namespace crash {
namespace {

#ifdef KW_CRASH_SANITIZED
const long kKillBudget = 120;
const long kPowerCutBudget = 60; // per pass
#else
const long kKillBudget = 300;
const long kPowerCutBudget = 300;
#endif
// The fault library kills the child before operation `point`.
void KillWithTheFaultLibrary(Loss loss, const std::string& label, long budget)
{
    const Scenario scenario(12, 15);
    const Interruption interruption{
        [&] { return OperationLog::Record(scenario); },
        [&](long point, const fs::path& journal) {
            std::vector<std::string> settings;
            if (!journal.empty()) settings = PowerCutSettings(journal, scenario.root());
            settings.push_back("KW_SHIM_KILL=" + std::to_string(point));
            return scenario.RunUpdater(settings);
        },
        [&] { return scenario.RunUpdater(); }};
    KillEverywhere(scenario, interruption, loss, label, budget);
}

TEST(CrashInjection, EveryKillPointRecoversToTheNewTree) { KillWithTheFaultLibrary(Loss::None, "crash", kKillBudget); }

TEST(CrashInjection, EveryPowerCutLosingUnflushedDataRecovers)
{
    KillWithTheFaultLibrary(Loss::Data, "power 1", kPowerCutBudget);
}

TEST(CrashInjection, EveryPowerCutAlsoUndoingUnflushedDirectoryChangesRecovers)
{
    KillWithTheFaultLibrary(Loss::DataAndDirectories, "power 2", kPowerCutBudget);
}

// Once the stage file is gone, a rerun starts again at stage 1 while the
// clean-up may already have removed backups that proved the old version.
TEST(CrashInjection, ACleanUpKilledAfterItsStageFileIsGoneFinishesOnTheNextRun)
{
    const Scenario scenario(2, 6);
    const OperationLog log = OperationLog::Record(scenario);
    long first_backup_removal = 0;
    for (long i = log.StageRecord(4) + 1; i <= log.size() && !first_backup_removal; ++i)
        if (log.at(i).op == "unlink" && log.at(i).path.find("/.backup/") != std::string::npos) first_backup_removal = i;
    ASSERT_NE(0, first_backup_removal);

    for (long point : {first_backup_removal + 1, log.size()}) {
        SCOPED_TRACE("killed before " + log.at(point).op + " " + log.at(point).path);
        scenario.Install();
        ASSERT_EQ(SIGKILL, scenario.RunUpdater({"KW_SHIM_KILL=" + std::to_string(point)}).signal);
        EXPECT_FALSE(boost::filesystem::exists(scenario.root() / ".update/up.stage"));
        ExpectCompleted(scenario, scenario.RunUpdater());
    }
}

} // namespace
} // namespace crash
