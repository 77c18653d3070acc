// The four stage operations the driver calls, with the arguments it passes.
#pragma once

#include <boost/filesystem/path.hpp>

#include <string>

class StageDir;

// Stage 1: check and decrypt the package into the temporary package file.
void decrypt(const std::string& package, const std::string& key_file, const boost::filesystem::path& extract_dir);

// Stage 2: decompress the temporary package file and expand its archive.
void expand(const boost::filesystem::path& update_dir, const boost::filesystem::path& extract_dir);

// Stages 3 and 4: the version check (start stage 3 only) and the script.
void replace(const boost::filesystem::path& stem, const boost::filesystem::path& base_dir, StageDir& stage_dir,
             int start_stage, const boost::filesystem::path& extract_dir);

// Removes this update's working files and backups after stage 4.
void post_process(const StageDir& stage_dir, const boost::filesystem::path& extract_dir, const std::string& stem);
