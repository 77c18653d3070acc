#include "InstallationCheck.h"

#include "PackError.h"
#include "PackageReport.h"
#include "VerifiedPackage.h"

#include "KWUpdater.h"
#include "StageDir.h"
#include "UpdateScript.h"

#include <kw/KWConvert.h>
#include <kw/ModuleError.h>
#include <kw/xml/XmlNode.h>

#include <boost/filesystem/operations.hpp>

#include <nlohmann/json.hpp>

#include <functional>
#include <vector>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

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
        Finding finding;
        finding.path = kw::ConvertSjisToUtf8(prefix + entry.name);
        finding.action = ActionText(entry.action);
        finding.refused = entry.action == EntryPlan::kRefuse;
        if (finding.refused && entry.installed != entry.expected) {
            finding.installed = entry.installed;
            finding.expected = entry.expected;
        }
        if (finding.refused && failure.empty()) failure = StepName(list) + finding.path;
        list.push_back(finding);
    }

    void Refuse(std::vector<Finding>& list, const std::string& path, const std::string& error)
    {
        Finding finding;
        finding.path = path;
        finding.action = ActionText(EntryPlan::kRefuse);
        finding.error = error;
        finding.refused = true;
        if (failure.empty()) failure = StepName(list) + path + ": " + error;
        list.push_back(finding);
    }

    std::string StepName(const std::vector<Finding>& list) const
    {
        return &list == &version_check ? "version check refuses " : "stage 4 refuses ";
    }

    static std::string AttributeText(const XmlElementPtr& element, const char* name)
    {
        const boost::shared_ptr<kw::xml::XmlValue> value = element->GetAttribute(name);
        return value ? value->GetText() : std::string();
    }
};

// The stage a run of the updater with this package would start after. The
// updater creates a missing stage file holding 0; here nothing is created.
int RecordedStage(const UpdatePaths& paths)
{
    if (!fs::exists(fs::status(paths.stage_file))) return 0;
    return StageDir::ReadStage(paths.stage_file);
}

void Predict(const VerifiedPackage& verified, const fs::path& installation, const UpdatePaths& paths, int recorded,
             Prediction& prediction)
{
    const XmlElementPtr root = verified.script_root();
    const fs::path& extracted = verified.extracted();
    StageDir stage_dir(paths.update_dir, paths.backup_dir);
    stage_dir.SetBackupSubDir(read_versions(root).from);
    if (recorded < 3)
        for_each_version_tag(root, [&](const XmlElementPtr& digest) {
            prediction.Plan(prediction.version_check, "", digest, "file",
                            [&] { return plan_version_tag(stage_dir, installation, extracted, digest); });
        });
    using Dir = const fs::path&;
    const DirSteps steps{
        [&](Dir source, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name",
                            [&] { return plan_modify(stage_dir, source, target, prefix, e); });
        },
        [&](Dir, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name", [&] { return plan_add(target, e); });
        },
        [&](Dir, Dir target, const std::string& prefix, const XmlElementPtr& e) {
            prediction.Plan(prediction.entries, prefix, e, "name", [&] { return plan_directory(target, e); });
        }};
    for_each_dir(root, [&](const XmlElementPtr& dir) {
        // A `dir` the updater refuses as a whole is one refusal.
        std::string error;
        if (!Attempt([&] { walk_dir(extracted, installation, dir, steps); }, error))
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

bool CheckInstallation(const fs::path& package, const fs::path& installation, const fs::path& key_file, bool json,
                       std::ostream& out)
{
    if (!fs::is_directory(installation)) throw PackError("no installation directory " + installation.string());
    const VerifiedPackage verified(package, key_file);
    // The layout the updater would use with the package in the installation root.
    const UpdatePaths paths(installation / package.filename());
    const int recorded = RecordedStage(paths);
    Prediction prediction;
    if (recorded > 3)
        prediction.failure = "unknown stage";  // the updater stops before any step
    else
        Predict(verified, installation, paths, recorded, prediction);
    const ScriptVersions versions = read_versions(verified.script_root());
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
    if (recorded == 3)
        out << "version check: passed by an earlier run (stage " << recorded << " recorded)\n";
    else
        out << "version check:\n";
    PrintFindings(prediction.version_check, out);
    out << "stage 4:\n";
    PrintFindings(prediction.entries, out);
    out << (complete ? "the update would complete\n" : "the update would fail: " + prediction.failure + "\n");
    return complete;
}

} // namespace kwpack
