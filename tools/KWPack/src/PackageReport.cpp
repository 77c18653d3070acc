#include "PackageReport.h"

#include "AtomicOutput.h"
#include "PackError.h"
#include "ScriptWriter.h"

#include "ArchiveExpansion.h"
#include "PackageReader.h"
#include "Platform.h"
#include "StageDir.h"
#include "Stages.h"

#include <kw/KWConvert.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlNode.h>
#include <kw/xml/XmlReader.h>

#include <boost/filesystem/operations.hpp>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = boost::filesystem;
using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

namespace kwpack {
namespace {

// The updater's stages print progress lines on standard output; the report
// is what inspect shows there, so they are silenced while the stages run.
class QuietStdout {
public:
    QuietStdout() : saved_(std::cout.rdbuf(&sink_)) {}
    ~QuietStdout() { std::cout.rdbuf(saved_); }

private:
    struct NullBuffer : std::streambuf {
        int overflow(int c) override { return c; }
    } sink_;
    std::streambuf* saved_;
};

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

struct Counts {
    std::uint64_t directories = 0, files = 0, bytes = 0;
};

void PrintTree(const Directory& dir, const std::string& prefix, std::ostream& out, Counts& counts)
{
    Directory::NodeCallback visit = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
        // KWPack speaks UTF-8 on every host.
        const std::string shown = prefix + kw::ConvertSjisToUtf8(name);
        char size[24] = "-";
        if (node->GetType() == kw::archive::NodeFile) {
            const unsigned bytes = boost::static_pointer_cast<File>(node)->GetSize();
            std::snprintf(size, sizeof size, "%u", bytes);
            ++counts.files;
            counts.bytes += bytes;
        } else {
            ++counts.directories;
        }
        out << "  " << (node->GetType() == kw::archive::NodeFile ? 'f' : 'd') << ' ' << std::string(12 - std::min<std::size_t>(12, std::strlen(size)), ' ')
            << size << "  created " << TimeText(node->GetCreated()) << "  modified " << TimeText(node->GetModified())
            << "  " << shown << (node->GetType() == kw::archive::NodeFile ? "" : "/") << "\n";
        if (node->GetType() == kw::archive::NodeDirectory)
            PrintTree(*boost::static_pointer_cast<Directory>(node), shown + "/", out, counts);
        return true;
    };
    dir.ForeachNode(visit);
}

// The script must parse and name the two versions, or stage 3 fails.
std::string CheckedScript(const fs::path& extracted)
{
    const fs::path path = extracted / kScriptName;
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) throw PackError(std::string("the package holds no ") + kScriptName);
    std::ostringstream text;
    text << in.rdbuf();
    kw::xml::XmlDocument document;
    kw::xml::XmlReader reader;
    reader.Prepare(document);
    reader << text.str();
    reader.Finish();
    const boost::shared_ptr<kw::xml::XmlElement> root = document.GetRootElement();
    if (!root->GetAttribute("from") || !root->GetAttribute("to"))
        throw PackError(std::string("the package's ") + kScriptName + " names no from and to versions");
    return text.str();
}

} // namespace

void InspectPackage(const fs::path& package, const fs::path& key_file, std::ostream& out)
{
    std::uint32_t version = 0;
    {
        std::ifstream in(package.c_str(), std::ios::binary);
        version = read_version(in);
    }
    ScratchDirectory scratch(fs::temp_directory_path() / "kwpack-inspect");
    const fs::path extracted = scratch.path() / "package";
    std::uint64_t plaintext = 0;
    kw::archive::ArchiveLoader loader;
    {
        QuietStdout quiet;
        // Stage 1 as the updater runs it, then stage 2 step by step so the
        // loaded archive stays at hand for the listing.
        decrypt(platform::PathToNarrow(package), platform::PathToNarrow(key_file), extracted);
        const fs::path temporary = StageDir::TemporaryPackage(extracted);
        std::ifstream input(temporary.c_str(), std::ios::binary);
        plaintext = fs::file_size(temporary);
        expand_bzip2(input, loader, plaintext);
        construct(*loader.GetBody(), extracted);
    }
    const std::string script = CheckedScript(extracted);

    std::string version_text;
    for (int shift = 24; shift >= 0; shift -= 8) version_text += char('0' + (version >> shift & 0xFF));
    out << "package " << package.string() << ": version " << version_text << ", content key verified, "
        << plaintext << " bytes compressed\n";
    const boost::shared_ptr<Node> top = loader.GetBody()->GetRoot().GetChildNode("/");
    Counts counts;
    out << "tree:\n";
    PrintTree(*boost::static_pointer_cast<Directory>(top), "", out, counts);
    out << counts.directories << " directories, " << counts.files << " files, " << counts.bytes << " bytes\n";
    out << "script " << kScriptName << ":\n" << script;
    if (!script.empty() && script.back() != '\n') out << "\n";
}

} // namespace kwpack
