#include "PackageReport.h"

#include "ScriptWriter.h"
#include "VerifiedPackage.h"


#include <kw/KWConvert.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <ctime>
#include <vector>

namespace fs = boost::filesystem;
using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

namespace kwpack {
namespace {

std::string TimeText(const FILETIME& time)
{
    const std::uint64_t ticks = std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    const std::time_t seconds = std::time_t(ticks / 10000000) - std::time_t(11644473600LL);
    std::tm parts{};
    char text[32];
#ifdef _WIN32
    const bool split = ::gmtime_s(&parts, &seconds) == 0;
#else
    const bool split = ::gmtime_r(&seconds, &parts) != nullptr;
#endif
    if (!split || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts)) return "?";
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
    Directory::NodeCallback visit = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
        const bool file = node->GetType() == kw::archive::NodeFile;
        entries.push_back({prefix + name, file, file ? boost::static_pointer_cast<File>(node)->GetSize() : 0u,
                           TimeText(node->GetCreated()), TimeText(node->GetModified())});
        if (!file) ListTree(*boost::static_pointer_cast<Directory>(node), prefix + name + "/", entries);
        return true;
    };
    dir.ForeachNode(visit);
}

} // namespace

std::string PackageLine(const fs::path& package, const VerifiedPackage& verified)
{
    return "package " + package.string() + ": version " + verified.version() + ", content key verified, " +
           std::to_string(verified.compressed_bytes()) + " bytes compressed\n";
}

nlohmann::json PackageJson(const fs::path& package, const VerifiedPackage& verified)
{
    return {{"package", package.string()},
            {"version", verified.version()},
            {"content_key_verified", true},
            {"compressed_bytes", verified.compressed_bytes()}};
}

void InspectPackage(const fs::path& package, const fs::path& key_file, bool json, std::ostream& out)
{
    const VerifiedPackage verified(package, key_file);
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
