// Interrupts the update of a scenario before one operation after another,
// across all four stages and the clean-up, optionally drops what a power
// cut loses, and runs it again with the same package: every interrupted
// update must finish by itself with the new tree, and no installed file may
// ever be neither the old nor the new version.
#pragma once

#include "OperationLog.h"
#include "PowerCut.h"
#include "Scenario.h"

#include <functional>
#include <string>

namespace crash {

// One way of interrupting the updater: the fault library in a child
// (POSIX), or the fault-injecting environment in this process.
struct Interruption {
    // The operations of an undisturbed update of the installed scenario.
    std::function<OperationLog()> record;
    // Runs the update stopped before operation `point` (reporting kKillSignal),
    // keeping the power-cut journal in `journal` unless it is empty.
    std::function<ChildResult(long point, const boost::filesystem::path& journal)> stop;
    // Runs it again, undisturbed.
    std::function<ChildResult()> rerun;
};

// At most `budget` kill points spread over the operations, plus each stage
// record with its neighbours and the clean-up's last steps; prints the kill
// points per stage and the outcomes under `label`.
void KillEverywhere(const Scenario& scenario, const Interruption& interruption, Loss loss, const std::string& label,
                    long budget);

// Checks that `run` completed the update of `scenario`: success without an
// error line, exactly the new tree, and no temporary files left.
void ExpectCompleted(const Scenario& scenario, const ChildResult& run);

} // namespace crash
