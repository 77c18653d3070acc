#include "OperationLog.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace crash {

bool IsStageFile(const std::string& path)
{
    const std::string suffix = ".stage";
    return path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

OperationLog::OperationLog(const std::vector<Operation>& operations) : operations_(operations)
{
    bool record_removed = false;
    for (long index = 1; index <= size(); ++index) {
        const Operation& op = at(index);
        if (op.op == "rename" && IsStageFile(op.path)) records_.push_back(index);
        if (op.op == "unlink" && IsStageFile(op.path) && records_.size() == 4) record_removed = true;
    }
    if (records_.size() != 4) throw std::runtime_error("expected four stage records in the operation log");
    if (!record_removed) throw std::runtime_error("the clean-up did not remove the stage file");
}

#ifndef _WIN32
OperationLog OperationLog::Record(const Scenario& scenario)
{
    const fs::path log = scenario.scratch() / "operations.log";
    fs::remove(log);
    scenario.Install();
    const ChildResult run = scenario.RunUpdater({"KW_SHIM_LOG=" + log.string()});
    if (run.exit_code != 0) throw std::runtime_error("the undisturbed update failed: " + run.err);
    const std::string differences = scenario.Differences();
    if (!differences.empty()) throw std::runtime_error("the undisturbed update differs:\n" + differences);

    std::vector<Operation> operations;
    std::ifstream in(log.string());
    long index = 0;
    std::string op, path;
    while (in >> index >> op) {
        std::getline(in, path);
        if (!path.empty() && path[0] == ' ') path.erase(0, 1);
        if (index != static_cast<long>(operations.size()) + 1) throw std::runtime_error("operation log out of order");
        operations.push_back({op, path});
    }
    return OperationLog(operations);
}
#endif

int OperationLog::StageOf(long index) const
{
    int stage = 1;
    for (long record : records_)
        if (index > record) ++stage;
    return stage;
}

} // namespace crash
