#include "VerifiedPackage.h"

#include "PackError.h"
#include "ScriptWriter.h"

#include "ArchiveExpansion.h"
#include "Decompression.h"
#include "PackageReader.h"
#include "UpdateScript.h"
#include "WorkingFiles.h"

#include <kw/archive/Directory.h>
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlNode.h>

namespace kwpack {

VerifiedPackage::VerifiedPackage(Env& env, const Path& package, const Path& key_file)
    : scratch_(env, env.TemporaryDirectory() / "kwpack-inspect"), extracted_(scratch_.path() / "package")
{
    std::uint32_t version = 0;
    {
        boost::system::error_code unopened; // a failed stream: the header step reports it
        kw::updater::FileInputStream in(env.OpenForReading(package, unopened));
        version = kw::updater::read_version(in);
    }
    for (int shift = 24; shift >= 0; shift -= 8) version_ += char('0' + (version >> shift & 0xFF));
    // Stage 1 as the updater runs it, then stage 2 step by step so the
    // loaded archive stays at hand for the listing; the updater's lines are
    // not the report's, so nobody listens to them.
    kw::updater::UpdateListener silent;
    kw::updater::decrypt(kw::updater::Context{env, silent}, package, key_file, extracted_);
    kw::updater::FileInputStream input(env.OpenForReading(kw::updater::TemporaryPackage(env, extracted_)));
    compressed_bytes_ = input.Size();
    kw::updater::expand_bzip2(silent, input, loader_, compressed_bytes_);
    kw::updater::construct(env, *loader_.GetBody(), extracted_);

    // The script must parse as stage 3 reads it and name the two versions.
    boost::system::error_code error;
    if (!env.OpenForReading(extracted_ / kScriptName, error))
        throw PackError(std::string("the package holds no ") + kScriptName);
    script_text_ = kw::updater::ReadWholeFile(env, extracted_ / kScriptName);
    script_ = kw::updater::read_script(env, extracted_);
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
