#include "CrashRuns.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <iostream>
#include <map>
#include <set>

namespace fs = boost::filesystem;

namespace crash {
namespace {

const int kMaxReruns = 3;

// Evenly spread over all operations (all of them when few), plus each stage
// record and its neighbours, where an interruption is most delicate, and the
// clean-up's last steps, after the stage file is gone.
std::vector<long> KillPoints(const OperationLog& log, long budget)
{
    std::set<long> points;
    const long total = log.size();
    if (total <= budget) {
        for (long i = 1; i <= total; ++i) points.insert(i);
    } else {
        for (long i = 0; i < budget; ++i) points.insert(1 + i * (total - 1) / (budget - 1));
    }
    for (int stage = 1; stage <= 4; ++stage)
        for (long near = log.StageRecord(stage) - 1; near <= log.StageRecord(stage) + 1; ++near)
            if (near >= 1 && near <= total) points.insert(near);
    bool first_backup = true;
    for (long i = log.StageRecord(4) + 1; i <= total; ++i) {
        const Operation& op = log.at(i);
        const bool stage_file = IsStageFile(op.path);
        const bool backup = op.path.find("/.backup/") != std::string::npos;
        if (stage_file || (backup && first_backup) || i >= total - 1) points.insert(i);
        if (stage_file && i < total) points.insert(i + 1); // the flush of the record's removal
        if (backup) first_backup = false;
    }
    return std::vector<long>(points.begin(), points.end());
}

struct Recovery {
    int reruns = 0;
    bool completed = false;      // reported success, or had already removed the package
    std::string failures;        // every rerun that did not succeed
    std::string foreign;         // files of neither version, after any rerun
    std::string unexplained;     // failed reruns without an "Error:" line
};

// Runs the updater again with the same package until it reports success.
// A rerun that fails must say so on an "Error:" line.
Recovery Recover(const Scenario& scenario, const Interruption& interruption)
{
    Recovery r;
    while (fs::exists(scenario.package()) && r.reruns < kMaxReruns) {
        const ChildResult run = interruption.rerun();
        ++r.reruns;
        r.foreign += scenario.ForeignFiles();
        if (run.exit_code != 0 && run.err.compare(0, 7, "Error: ") != 0) r.unexplained += run.err;
        if (run.exit_code == 0 && run.err.empty()) {
            r.completed = true;
            return r;
        }
        r.failures += "  rerun " + std::to_string(r.reruns) + ": exit " + std::to_string(run.exit_code) + ", " + run.err;
    }
    r.completed = !fs::exists(scenario.package());
    return r;
}

} // namespace

void KillEverywhere(const Scenario& scenario, const Interruption& interruption, Loss loss, const std::string& label,
                   long budget)
{
    const auto started = std::chrono::steady_clock::now();
    const OperationLog log = interruption.record();
    const std::vector<long> points = KillPoints(log, budget);
    ASSERT_GE(static_cast<long>(points.size()), std::min(budget, log.size()));
    const fs::path journal = scenario.scratch() / "power";

    std::map<std::string, int> per_stage, outcomes;
    for (long point : points) {
        const Operation& op = log.at(point);
        const int stage = log.StageOf(point);
        const std::string stage_name = stage == 5 ? "clean-up" : "stage " + std::to_string(stage);
        SCOPED_TRACE("killed before operation " + std::to_string(point) + " of " + std::to_string(log.size()) + " (" +
                     op.op + " " + op.path + ", " + stage_name + ")");
        scenario.Install();
        fs::remove_all(journal);
        if (loss != Loss::None) fs::create_directories(journal);
        const ChildResult killed = interruption.stop(point, loss != Loss::None ? journal : fs::path());
        ASSERT_EQ(kKillSignal, killed.signal) << "the run ended before the kill point: " << killed.err;
        ++per_stage[stage_name];
        ApplyPowerCut(journal, scenario.root(), loss);
        EXPECT_EQ("", scenario.ForeignFiles()) << "after the power cut";

        const Recovery r = Recover(scenario, interruption);
        EXPECT_TRUE(r.completed) << r.failures;
        EXPECT_EQ(1, r.reruns) << r.failures;
        EXPECT_EQ("", r.foreign);
        EXPECT_EQ("", r.unexplained);
        EXPECT_EQ(std::vector<std::string>(), scenario.Temporaries());
        std::string outcome;
        if (r.completed) {
            EXPECT_EQ("", scenario.Differences());
            outcome = "completed after " + std::to_string(r.reruns) + " rerun(s)";
        } else {
            outcome = "NOT completed after " + std::to_string(r.reruns) + " reruns";
        }
        if (!r.failures.empty()) outcome += ", with failed reruns";
        ++outcomes[outcome];
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string tag = "[ " + label + std::string(label.size() < 9 ? 9 - label.size() : 0, ' ') + "] ";
    std::cout << tag << points.size() << " kill points over " << log.size() << " operations ("
              << scenario.new_file_count() << " files in the new tree)\n" << tag << "kill points:";
    for (const auto& s : per_stage) std::cout << " " << s.first << " " << s.second << ";";
    std::cout << "\n";
    for (const auto& o : outcomes) std::cout << tag << o.second << " x " << o.first << "\n";
    std::cout << tag << seconds << " s" << std::endl;
}

void ExpectCompleted(const Scenario& scenario, const ChildResult& run)
{
    EXPECT_EQ(0, run.exit_code) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ("", scenario.Differences());
    EXPECT_EQ(std::vector<std::string>(), scenario.Temporaries());
}

} // namespace crash

