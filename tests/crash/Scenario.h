// One update to break: an old and a new tree, the package KWPack makes from
// them, and a scratch installation at the old version that holds the package.
#pragma once

#include "Env.h"
#include "TestSupport.h"

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace crash {

// How a run of the updater ended, with its console lines.
using ChildResult = testsupport::CommandResult;

// The signal a killed child reports (SIGKILL), also for a run stopped in
// this process, where no signal is involved.
constexpr int kKillSignal = 9;

class Scenario {
public:
    // In a scratch directory of its own: `directories` old directories of
    // `files_per_directory` files each; a third of the files change, each
    // directory gains files, and new directories (one nested, one with a
    // Japanese name) arrive.
    Scenario(int directories, int files_per_directory);

    // A fresh installation at the old version with the package at its root.
    void Install() const;

    // Runs the updater on the package with the fault library loaded and
    // given `settings` (none: it only skips the flushes to the disk). POSIX.
    ChildResult RunUpdater(const std::vector<std::string>& settings = {}) const;
    // Runs it in this process on `env`, its console lines captured; a run
    // that the environment stops reports kKillSignal.
    ChildResult RunInProcess(kw::updater::Env& env) const;

    // Empty when the installation holds exactly the new tree (contents and
    // modification times); else the first differences, one per line. With
    // `working_files_allowed`, ".update", ".backup" and the package are not
    // counted as differences.
    std::string Differences(bool working_files_allowed = false) const;

    // Temporary ".kwtmp" files below the installation, outside the update
    // directory (whose clean-up removes its own).
    std::vector<std::string> Temporaries() const;

    // Files of the installation (working files aside) whose content is
    // neither the old nor the new version of that file, one per line.
    std::string ForeignFiles() const;

    // The bytes of the stage file; empty when there is none.
    std::string StageFileBytes() const { return testsupport::ReadFile(root_ / ".update/up.stage"); }

    const boost::filesystem::path& root() const { return root_; }
    const boost::filesystem::path& package() const { return package_; }
    const boost::filesystem::path& scratch() const { return dir_; }
    const boost::filesystem::path& old_tree() const { return old_; }
    std::size_t new_file_count() const { return new_files_; }
    // Relative path (UTF-8) of a modified file with a Japanese name.
    static const char* JapaneseModifiedFile();

private:
    // In memory where the system offers one: the tests rewrite an
    // installation hundreds of times.
    testsupport::TempDir scratch_;
    boost::filesystem::path dir_, old_, new_, root_, package_, master_package_;
    std::size_t new_files_ = 0;
};

} // namespace crash
