// What a power cut at a kill leaves of an installation, rebuilt from the
// journal the fault library keeps (KW_SHIM_POWER in FaultShim.c): a file
// system may lose whatever was not flushed to stable storage.
#pragma once

#include <boost/filesystem/path.hpp>

#include <string>
#include <vector>

namespace crash {

enum class Loss {
    None,               // a kill only: the kernel keeps everything
    Data,               // data written after each file's last flush
    DataAndDirectories, // and creations, renames and removals made after
                        // the last flush of their directory
};

// The fault library's settings that keep the journal in `journal` (a
// directory on the same file system) for the tree `root`. POSIX.
std::vector<std::string> PowerCutSettings(const boost::filesystem::path& journal, const boost::filesystem::path& root);

// Drops from `root` what `loss` says a power cut loses.
void ApplyPowerCut(const boost::filesystem::path& journal, const boost::filesystem::path& root, Loss loss);

} // namespace crash
