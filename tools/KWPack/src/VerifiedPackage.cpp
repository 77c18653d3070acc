#include "VerifiedPackage.h"

#include "PackError.h"
#include "ScriptWriter.h"

#include "ArchiveExpansion.h"
#include "PackageReader.h"
#include "Platform.h"
#include "StageDir.h"
#include "Stages.h"
#include "UpdateScript.h"

#include <kw/archive/Directory.h>
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlNode.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = boost::filesystem;

namespace kwpack {
namespace {

// The updater's stages print progress lines on standard output; the report
// is what the producer shows there, so they are silenced while the stages run.
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

} // namespace

VerifiedPackage::VerifiedPackage(const fs::path& package, const fs::path& key_file)
    : scratch_(fs::temp_directory_path() / "kwpack-inspect"), extracted_(scratch_.path() / "package")
{
    std::uint32_t version = 0;
    {
        std::ifstream in(package.c_str(), std::ios::binary);
        version = read_version(in);
    }
    for (int shift = 24; shift >= 0; shift -= 8) version_ += char('0' + (version >> shift & 0xFF));
    {
        QuietStdout quiet;
        // Stage 1 as the updater runs it, then stage 2 step by step so the
        // loaded archive stays at hand for the listing.
        decrypt(platform::PathToNarrow(package), platform::PathToNarrow(key_file), extracted_);
        const fs::path temporary = StageDir::TemporaryPackage(extracted_);
        std::ifstream input(temporary.c_str(), std::ios::binary);
        compressed_bytes_ = fs::file_size(temporary);
        expand_bzip2(input, loader_, compressed_bytes_);
        construct(*loader_.GetBody(), extracted_);
    }

    // The script must parse as stage 3 reads it and name the two versions.
    std::ifstream in((extracted_ / kScriptName).c_str(), std::ios::binary);
    if (!in) throw PackError(std::string("the package holds no ") + kScriptName);
    std::ostringstream text;
    text << in.rdbuf();
    script_text_ = text.str();
    script_ = read_script(extracted_);
    const boost::shared_ptr<kw::xml::XmlElement> root = script_->GetRootElement();
    if (!root || !root->GetAttribute("from") || !root->GetAttribute("to"))
        throw PackError(std::string("the package's ") + kScriptName + " names no from and to versions");
}

VerifiedPackage::~VerifiedPackage() = default;

const kw::archive::Directory& VerifiedPackage::tree() const
{
    return *boost::static_pointer_cast<kw::archive::Directory>(loader_.GetBody()->GetRoot().GetChildNode("/"));
}

boost::shared_ptr<kw::xml::XmlElement> VerifiedPackage::script_root() const
{
    return script_->GetRootElement();
}

} // namespace kwpack
