// The driver: entry point, path layout and the resumable stage sequence.
#pragma once

#include "Backups.h"
#include "UpdateListener.h"
#include "UpdatePaths.h"
#include "UpdateScript.h"

#include <boost/function.hpp>

#include <iosfwd>
#include <string>

namespace kw {
namespace updater {

// The stage operations; the defaults are the real ones. Tests put stand-ins here.
struct StageOperations {
    StageOperations();

    boost::function<void(const Context&, const UpdatePaths&)> decrypt;
    boost::function<void(const Context&, const UpdatePaths&)> expand;
    boost::function<void(const ScriptRun&, int start_stage)> replace;
    boost::function<void(const Context&, const UpdatePaths&, Backups&)> post_process;
    // Removes the package file after a successful run.
    boost::function<void(Env&, const Path&)> remove_package;
};

// Runs every unfinished stage of the package (narrow text) and cleans up.
// Returns 0; every failure of a stage leaves as an exception.
int update(const Context& context, const std::string& package, const StageOperations& operations = StageOperations());

// The program: usage check, update, verdict and the final prompt, on the
// system's environment unless a test gives another.
int RunUpdater(int argc, char** argv, const StageOperations& operations = StageOperations(),
               std::istream* input = nullptr, Env& env = Env::Default());

} // namespace updater
} // namespace kw
