// The file-system operations of one undisturbed update, as the fault
// library logs them, and which stage each belongs to.
#pragma once

#include "Scenario.h"

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace crash {

struct Operation {
    std::string op;
    std::string path;
};

class OperationLog {
public:
    // The operations of an update that succeeded, each named as the fault
    // library names it ("rename", "unlink", ...) with the path it changed.
    explicit OperationLog(const std::vector<Operation>& operations);

    // Installs the scenario afresh and applies its package once with the
    // fault library counting; the update must succeed and be complete. POSIX.
    static OperationLog Record(const Scenario& scenario);

    long size() const { return static_cast<long>(operations_.size()); }
    // Operation `index`, counted from 1 as the fault library counts.
    const Operation& at(long index) const { return operations_.at(static_cast<std::size_t>(index - 1)); }
    // The operation that records stage `stage` (the stage file's rename).
    long StageRecord(int stage) const { return records_.at(static_cast<std::size_t>(stage - 1)); }
    // The stage that is under way when operation `index` is about to run:
    // 1 to 4, or 5 for the clean-up after stage 4 was recorded.
    int StageOf(long index) const;

private:
    std::vector<Operation> operations_;
    std::vector<long> records_;
};

// Whether `path` names a stage file.
bool IsStageFile(const std::string& path);

} // namespace crash
