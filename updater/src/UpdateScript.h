// The update script (update.xml): the version check and the file operations
// of stages 3 and 4. `replace` and `post_process` are declared in Stages.h;
// the steps below are the callbacks the script's queries run.
//
// Every text of the script is UTF-8 and is converted to the program's narrow
// encoding (CP932) before use; a name must be one safe component and a
// directory or file path a relative path of safe components (SafeName.h).
#pragma once

#include "Stages.h"

#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

namespace kw {
namespace xml {
class XmlElement;
}
} // namespace kw

typedef boost::shared_ptr<kw::xml::XmlElement> XmlElementPtr;

// Reads the versions, checks them (stage 3 only, then records stage 3 and
// announces stage 4) and runs every `dir` of the script.
void replace_files(const XmlElementPtr& root, StageDir& stage_dir, const boost::filesystem::path& stem, int stage,
                   const boost::filesystem::path& extract_dir, const boost::filesystem::path& base_dir);

// One `digest`: the installed file, or its backup, must have the digest, or
// the installed file must already equal the package's version of it.
void check_version_tag(const StageDir& stage_dir, const boost::filesystem::path& base_dir,
                       const boost::filesystem::path& extract_dir, const XmlElementPtr& digest);

// One `dir`: its replacements, then its additions, then its new directories.
void proc_dir(const StageDir& stage_dir, const boost::filesystem::path& extract_dir,
              const boost::filesystem::path& base_dir, const XmlElementPtr& dir);

// The three operations of a `dir`. `path_text` is the directory's relative
// path in narrow text, empty for the installation root.
void modify_file(const StageDir& stage_dir, const boost::filesystem::path& source_dir,
                 const boost::filesystem::path& target_dir, const std::string& path_text, const XmlElementPtr& element);
void add_file(const StageDir& stage_dir, const boost::filesystem::path& source_dir,
              const boost::filesystem::path& target_dir, const std::string& path_text, const XmlElementPtr& element);
void make_directory(const boost::filesystem::path& source_dir, const boost::filesystem::path& target_dir,
                    const std::string& path_text, const XmlElementPtr& element);
