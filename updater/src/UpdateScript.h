// The update script (update.xml): the version check and the file operations
// of stages 3 and 4; the steps below are the callbacks the script's queries
// run.
//
// Every text of the script is UTF-8 and is converted to the program's narrow
// encoding (CP932) before use; a name must be one safe component and a
// directory or file path a relative path of safe components (SafeName.h).
#pragma once

#include "Backups.h"
#include "UpdateListener.h"
#include "UpdatePaths.h"

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include <string>

namespace kw {
namespace xml {
class XmlDocument;
class XmlElement;
} // namespace xml

namespace updater {

typedef boost::shared_ptr<kw::xml::XmlElement> XmlElementPtr;

// What the version check finds for one `digest`, or what stage 4 does with
// one entry of a `dir`, decided from the installation as it stands without
// changing anything. The steps below act on it; the producer's check reports
// it, so the two cannot disagree.
struct EntryPlan {
    enum Action {
        kOldVersion,       // digest: the installed file has it
        kBackedUp,         // digest: an earlier run's backup has it
        kReplace,          // modify: the installed file has the old digest
        kReplaceAgain,     // modify: an earlier run's backup has the old digest
        kAlreadyNew,       // digest, modify: the installed file equals the packaged one
        kAdd,              // add: nothing there yet
        kSkip,             // add: the target exists
        kCreateDirectory,  // mkdir: nothing there yet
        kDirectoryExists,  // mkdir: the directory exists
        kRefuse,           // the run fails here
    };
    Action action = kRefuse;
    std::string name;       // narrow text: the entry's name, or a digest's file path
    Path installed_path;    // modify: the installed entry as the disk spells it
    std::string installed;  // digest and modify: the installed file's digest
    std::string expected;   // digest and modify: the digest the script names
};

struct ScriptVersions {
    std::string from;               // narrow text: names the backups, so it converts exactly
    std::string from_utf8, to_utf8;  // as the script has them, for showing
};

// One entry step of a `dir`; `prefix` is the directory's prefix in narrow
// text (see modify_file below).
typedef boost::function<void(const Path& source_dir, const Path& target_dir, const std::string& prefix,
                             const XmlElementPtr& element)>
    EntryStep;
struct DirSteps {
    EntryStep modify, add, mkdir;
};

// The script's reading and walk, which stages 3 and 4 and the producer's
// check share. First the extracted update.xml, parsed as stage 3 reads it.
boost::shared_ptr<kw::xml::XmlDocument> read_script(Env& env, const Path& extract_dir);
// The versions the script names; fails when one is missing or unsafe.
ScriptVersions read_versions(const XmlElementPtr& root);
// Every `digest` of the version check, in order.
void for_each_version_tag(const XmlElementPtr& root, const boost::function<void(const XmlElementPtr&)>& step);
// Every `dir`, in order.
void for_each_dir(const XmlElementPtr& root, const boost::function<void(const XmlElementPtr&)>& step);
// One `dir`: its replacements, then its additions, then its new directories.
void walk_dir(Env& env, const Path& extract_dir, const Path& base_dir, const XmlElementPtr& dir, const DirSteps& steps);

// The decisions of check_version_tag, modify_file, add_file and
// make_directory; each raises as its step does for a malformed or unsafe entry.
EntryPlan plan_version_tag(Env& env, const Backups& backups, const Path& base_dir, const Path& extract_dir,
                           const XmlElementPtr& digest);
EntryPlan plan_modify(Env& env, const Backups& backups, const Path& source_dir, const Path& target_dir,
                      const std::string& prefix, const XmlElementPtr& element);
EntryPlan plan_add(Env& env, const Path& target_dir, const XmlElementPtr& element);
EntryPlan plan_directory(Env& env, const Path& target_dir, const XmlElementPtr& element);

// One run of the script's steps: where they report, the working paths, and
// the backups (whose from version the script sets).
struct ScriptRun {
    const Context& context;
    const UpdatePaths& paths;
    Backups& backups;
};

// Stages 3 and 4: reads the script from the extraction directory, checks the
// versions (start stage 3 only, then records stage 3 and announces stage 4)
// and runs every `dir`.
void replace(const ScriptRun& run, int start_stage);
void replace_files(const ScriptRun& run, const XmlElementPtr& root, int stage);

// One `digest`: the installed file, or its backup, must have the digest, or
// the installed file must already equal the package's version of it.
void check_version_tag(Env& env, const Backups& backups, const Path& base_dir, const Path& extract_dir,
                       const XmlElementPtr& digest);

// One `dir`: its replacements, then its additions, then its new directories.
void proc_dir(const ScriptRun& run, const XmlElementPtr& dir);

// The three operations of a `dir`. `prefix` is the directory's prefix in
// narrow text, which messages and backups put before a name: "" for the
// path "/", "/" for an empty path, else the relative path and '/'.
void modify_file(const ScriptRun& run, const Path& source_dir, const Path& target_dir, const std::string& prefix,
                 const XmlElementPtr& element);
void add_file(const ScriptRun& run, const Path& source_dir, const Path& target_dir, const std::string& prefix,
              const XmlElementPtr& element);
void make_directory(const ScriptRun& run, const Path& target_dir, const std::string& prefix,
                    const XmlElementPtr& element);

} // namespace updater
} // namespace kw
