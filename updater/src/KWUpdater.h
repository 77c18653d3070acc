// The driver: entry point, path layout and the resumable stage sequence.
#pragma once

#include <boost/filesystem/path.hpp>
#include <boost/function.hpp>

#include <iosfwd>
#include <string>

class StageDir;

// Every working path, derived from the package path as typed.
struct UpdatePaths {
    explicit UpdatePaths(const boost::filesystem::path& package);

    boost::filesystem::path package;
    boost::filesystem::path base_dir;     // the installation root; empty means the current directory
    boost::filesystem::path update_dir;   // base/.update
    boost::filesystem::path backup_dir;   // base/.backup
    boost::filesystem::path key_file;     // base/bin/lmfile
    std::string stem;                     // package file name without its last extension
    boost::filesystem::path extract_dir;  // update_dir/stem
    boost::filesystem::path temp_package; // update_dir/stem + ".pkg.bz2" (StageDir::TemporaryPackage)
    boost::filesystem::path stage_file;   // update_dir/stem + ".stage" (StageDir::StageFile)
};

// The stage operations; the defaults are the real ones. Tests put stand-ins here.
struct StageOperations {
    StageOperations();

    boost::function<void(const std::string&, const std::string&, const boost::filesystem::path&)> decrypt;
    boost::function<void(const boost::filesystem::path&, const boost::filesystem::path&)> expand;
    boost::function<void(const boost::filesystem::path&, const boost::filesystem::path&, StageDir&, int,
                         const boost::filesystem::path&)>
        replace;
    boost::function<void(const StageDir&, const boost::filesystem::path&, const std::string&)> post_process;
    // Removes the package file after a successful run.
    boost::function<void(const boost::filesystem::path&)> remove_package;
};

// Runs every unfinished stage of the package (narrow text) and cleans up.
// Returns 0; every failure of a stage leaves as an exception.
int update(const std::string& package, const StageOperations& operations = StageOperations());

// The program: usage check, update, verdict and the final prompt.
int RunUpdater(int argc, char** argv, const StageOperations& operations = StageOperations(),
               std::istream* input = nullptr);
