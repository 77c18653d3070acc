#include "PackageReport.h"

#include "ScriptWriter.h"
#include "VerifiedPackage.h"

#include <kw/KWConvert.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <vector>

using kw::archive::Directory;
using kw::archive::File;

namespace kwpack {
namespace {

// "YYYY-MM-DD hh:mm:ss" in UTC, computed here: the C library's calendar
// functions differ between systems.
std::string TimeText(const kw::FILETIME& time)
{
    const std::int64_t seconds = std::int64_t(kw::TicksOf(time) / 10000000) - 11644473600LL;
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t second_of_day = seconds - days * 86400;
    // Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t day_of_era = z - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(second_of_day / 3600), static_cast<long long>(second_of_day / 60 % 60),
                  static_cast<long long>(second_of_day % 60));
    return text;
}

struct ListedEntry {
    std::string path;  // narrow text
    bool file;
    std::uint64_t size;
    std::string created, modified;
};

void ListTree(const Directory& dir, const std::string& prefix, std::vector<ListedEntry>& entries)
{
    Directory::NodeCallback visit = [&](const std::string& name, const boost::shared_ptr<kw::archive::Node>& node) {
        const bool file = node->GetType() == kw::archive::NodeFile;
        entries.push_back({prefix + name, file, file ? boost::static_pointer_cast<File>(node)->GetSize() : 0u,
                           TimeText(node->GetCreated()), TimeText(node->GetModified())});
        if (!file) ListTree(*boost::static_pointer_cast<Directory>(node), prefix + name + "/", entries);
        return true;
    };
    dir.ForeachNode(visit);
}

} // namespace

std::string PackageLine(const Path& package, const VerifiedPackage& verified)
{
    return "package " + package.string() + ": version " + verified.version() + ", content key verified, " +
           std::to_string(verified.compressed_bytes()) + " bytes compressed\n";
}

nlohmann::json PackageJson(const Path& package, const VerifiedPackage& verified)
{
    return {{"package", package.string()},
            {"version", verified.version()},
            {"content_key_verified", true},
            {"compressed_bytes", verified.compressed_bytes()}};
}

void InspectPackage(Env& env, const Path& package, const Path& key_file, bool json, std::ostream& out)
{
    const VerifiedPackage verified(env, package, key_file);
    std::vector<ListedEntry> entries;
    ListTree(verified.tree(), "", entries);
    std::uint64_t directories = 0, files = 0, bytes = 0;
    for (const ListedEntry& entry : entries) {
        (entry.file ? files : directories) += 1;
        bytes += entry.size;
    }

    if (json) {
        nlohmann::json report = PackageJson(package, verified), tree = nlohmann::json::array();
        for (const ListedEntry& entry : entries) {
            nlohmann::json item = {{"path", kw::ConvertSjisToUtf8(entry.path)},
                                   {"type", entry.file ? "file" : "directory"},
                                   {"created", entry.created},
                                   {"modified", entry.modified}};
            if (entry.file) item["size"] = entry.size;
            tree.push_back(item);
        }
        report["tree"] = tree;
        report["directories"] = directories;
        report["files"] = files;
        report["bytes"] = bytes;
        report["script"] = verified.script_text();
        out << report.dump(2) << "\n";
        return;
    }
    out << PackageLine(package, verified) << "tree:\n";
    for (const ListedEntry& entry : entries) {
        const std::string size = entry.file ? std::to_string(entry.size) : "-";
        out << "  " << (entry.file ? 'f' : 'd') << ' ' << std::string(12 - std::min<std::size_t>(12, size.size()), ' ')
            << size << "  created " << entry.created << "  modified " << entry.modified << "  "
            << kw::ConvertSjisToUtf8(entry.path) << (entry.file ? "" : "/") << "\n";
    }
    out << directories << " directories, " << files << " files, " << bytes << " bytes\n";
    const std::string& script = verified.script_text();
    out << "script " << kScriptName << ":\n" << script;
    if (!script.empty() && script.back() != '\n') out << "\n";
}

} // namespace kwpack
