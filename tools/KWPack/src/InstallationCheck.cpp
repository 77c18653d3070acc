#include "InstallationCheck.h"

#include "PackError.h"
#include "PackageReport.h"
#include "VerifiedPackage.h"

#include "StageRecord.h"
#include "UpdatePaths.h"
#include "UpdateScript.h"

#include <kw/KWConvert.h>
#include <kw/ModuleError.h>
#include <kw/xml/XmlNode.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <vector>

namespace kwpack {
namespace {

using kw::updater::EntryPlan;
using kw::updater::UpdatePaths;
using kw::updater::XmlElementPtr;

const char* ActionText(EntryPlan::Action action)
{
    switch (action) {
    case EntryPlan::kOldVersion: return "old version";
    case EntryPlan::kBackedUp: return "backed up";
    case EntryPlan::kReplace: return "replace";
    case EntryPlan::kReplaceAgain: return "replace again";
    case EntryPlan::kAlreadyNew: return "already new";
    case EntryPlan::kAdd: return "add";
    case EntryPlan::kSkip: return "skip";
    case EntryPlan::kCreateDirectory: return "create directory";
    case EntryPlan::kDirectoryExists: return "directory exists";
    case EntryPlan::kRefuse: break;
    }
    return "refuse";
}

// One line of the prediction; paths are UTF-8.
struct Finding {
    std::string path;
    std::string action;
    std::string installed, expected;  // a refusal's digests, when the two differ
    std::string error;                // the updater's error text, when it would raise one
    bool refused = false;
};

// Runs `step`; an error the updater would raise there becomes its text.
bool Attempt(const std::function<void()>& step, std::string& error)
{
    try {
        step();
        return true;
    } catch (const kw::ModuleError& e) {
        error = e.What();
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

struct Prediction {
    std::vector<Finding> version_check, entries;
    std::string failure;  // the first refusal; empty when the update would complete

    // Plans one entry, named by its attribute `name_attribute` when the
    // updater refuses it before its name is known.
    void Plan(std::vector<Finding>& list, const std::string& prefix, const XmlElementPtr& element,
              const char* name_attribute, const std::function<EntryPlan()>& plan)
    {
        EntryPlan entry;
        std::string error;
        if (!Attempt([&] { entry = plan(); }, error)) {
            Refuse(list, kw::ConvertSjisToUtf8(prefix) + AttributeText(element, name_attribute), error);
            return;
        }
        const bool refused = entry.action == EntryPlan::kRefuse;
        const bool digests = refused && entry.installed != entry.expected;
        Add(list, {kw::ConvertSjisToUtf8(prefix + entry.name), ActionText(entry.action),
                   digests ? entry.installed : "", digests ? entry.expected : "", "", refused}, "");
    }

    void Refuse(std::vector<Finding>& list, const std::string& path, const std::string& error)
    {
        Add(list, {path, ActionText(EntryPlan::kRefuse), "", "", error, true}, ": " + error);
    }

    // Adds a finding; the first refusal, named with its step and with
    // `detail` after its path, is the failure.
    void Add(std::vector<Finding>& list, const Finding& finding, const std::string& detail)
    {
        const char* step = &list == &version_check ? "version check refuses " : "stage 4 refuses ";
        if (finding.refused && failure.empty()) failure = step + finding.path + detail;
        list.push_back(finding);
    }

    static std::string AttributeText(const XmlElementPtr& element, const char* name)
    {
        const boost::shared_ptr<kw::xml::XmlValue> value = element->GetAttribute(name);
        return value ? value->GetText() : std::string();
    }
};

void Predict(Env& env, const VerifiedPackage& verified, const Path& installation, const UpdatePaths& paths,
             int first_stage, Prediction& prediction)
{
    using namespace kw::updater;
    const XmlElementPtr root = verified.script_root();
    const Path& extracted = verified.extracted();
    Backups backups(env, paths.backup_dir);
    backups.SetFrom(read_versions(root).from);
    if (first_stage <= 3)
        for_each_version_tag(root, [&](const XmlElementPtr& digest) {
            prediction.Plan(prediction.version_check, "", digest, "file",
                            [&] { return plan_version_tag(env, backups, installation, extracted, digest); });
        });
    if (first_stage > 4) return; // stage 4 is done: only the clean-up is left
    using Dir = const Path&;
    const DirSteps steps{
        [&](Dir source, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name",
                            [&] { return plan_modify(env, backups, source, target, prefix, e); });
        },
        [&](Dir, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name", [&] { return plan_add(env, target, e); });
        },
        [&](Dir, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name", [&] { return plan_directory(env, target, e); });
        }};
    for_each_dir(root, [&](const XmlElementPtr& dir) {
        // A `dir` the updater refuses as a whole is one refusal.
        std::string error;
        if (!Attempt([&] { walk_dir(env, extracted, installation, dir, steps); }, error))
            prediction.Refuse(prediction.entries, Prediction::AttributeText(dir, "path"), error);
    });
}

nlohmann::json FindingsJson(const std::vector<Finding>& findings)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) {
        nlohmann::json item = {{"path", f.path}, {"action", f.action}};
        if (!f.installed.empty()) item["installed_digest"] = f.installed;
        if (!f.expected.empty()) item["expected_digest"] = f.expected;
        if (!f.error.empty()) item["error"] = f.error;
        list.push_back(item);
    }
    return list;
}

void PrintFindings(const std::vector<Finding>& findings, std::ostream& out)
{
    for (const Finding& f : findings) {
        std::string action = f.action;
        action.resize(std::max<std::size_t>(action.size() + 2, 18), ' ');
        out << "  " << action << f.path;
        if (!f.installed.empty() || !f.expected.empty())
            out << "  (installed " << f.installed << ", expected " << f.expected << ")";
        if (!f.error.empty()) out << "  (" << f.error << ")";
        out << "\n";
    }
}

} // namespace

bool CheckInstallation(Env& env, const Path& package, const Path& installation, const Path& key_file, bool json,
                       std::ostream& out)
{
    if (!kw::updater::IsDirectory(env, installation))
        throw PackError("no installation directory " + installation.string());
    const VerifiedPackage verified(env, package, key_file);
    // The layout the updater would use with the package in the installation root.
    const UpdatePaths paths(env, installation / package.filename());
    // The stage a run of the updater with this package would start after. The
    // updater creates a missing stage file holding 0; here nothing is created.
    const int recorded = kw::updater::Exists(env, paths.stage_file) ? kw::updater::ReadStage(env, paths.stage_file) : 0;
    // The updater's own rule says what its run would do.
    const kw::updater::ResumePlan resume = kw::updater::PlanResume(recorded);
    Prediction prediction;
    if (!resume.known)
        prediction.failure = "unknown stage";  // the updater stops before any step
    else
        Predict(env, verified, installation, paths, resume.first_stage, prediction);
    const kw::updater::ScriptVersions versions = kw::updater::read_versions(verified.script_root());
    const bool complete = prediction.failure.empty();

    if (json) {
        nlohmann::json report = PackageJson(package, verified);
        report["installation"] = installation.string();
        report["from"] = versions.from_utf8;
        report["to"] = versions.to_utf8;
        report["recorded_stage"] = recorded;
        report["version_check"] = FindingsJson(prediction.version_check);
        report["entries"] = FindingsJson(prediction.entries);
        report["would_complete"] = complete;
        if (!complete) report["failure"] = prediction.failure;
        out << report.dump(2) << "\n";
        return complete;
    }
    out << PackageLine(package, verified);
    out << "installation " << installation.string() << ": update " << versions.from_utf8 << " => "
        << versions.to_utf8 << "\n";
    if (resume.known && resume.first_stage > 3)
        out << "version check: passed by an earlier run (stage " << recorded << " recorded)\n";
    else
        out << "version check:\n";
    PrintFindings(prediction.version_check, out);
    if (resume.known && resume.first_stage > 4)
        out << "stage 4: done by an earlier run (stage " << recorded << " recorded); only the clean-up is left\n";
    else
        out << "stage 4:\n";
    PrintFindings(prediction.entries, out);
    out << (complete ? "the update would complete\n" : "the update would fail: " + prediction.failure + "\n");
    return complete;
}

} // namespace kwpack
