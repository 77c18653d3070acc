#include "OperationLog.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {

OperationLog OperationLog::Record(const Scenario& scenario)
{
    const fs::path log = scenario.scratch() / "operations.log";
    fs::remove(log);
    scenario.Install();
    const ChildResult run = scenario.RunUpdater({"KW_SHIM_LOG=" + log.string()});
    if (run.code != 0) throw std::runtime_error("the undisturbed update failed: " + run.err);
    const std::string differences = scenario.Differences();
    if (!differences.empty()) throw std::runtime_error("the undisturbed update differs:\n" + differences);

    OperationLog result;
    std::ifstream in(log.string());
    long index = 0;
    std::string op, path;
    while (in >> index >> op) {
        std::getline(in, path);
        if (!path.empty() && path[0] == ' ') path.erase(0, 1);
        if (index != result.size() + 1) throw std::runtime_error("operation log out of order");
        result.operations_.push_back({op, path});
        const std::string suffix = ".stage";
        const bool stage_file =
            path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (op == "rename" && stage_file) result.records_.push_back(index);
        if (op == "unlink" && stage_file && result.records_.size() == 4) result.record_removal_ = index;
    }
    if (result.records_.size() != 4) throw std::runtime_error("expected four stage records in the operation log");
    if (result.record_removal_ == 0) throw std::runtime_error("the clean-up did not remove the stage file");
    return result;
}

int OperationLog::StageOf(long index) const
{
    int stage = 1;
    for (long record : records_)
        if (index > record) ++stage;
    return stage;
}

} // namespace crash
