// A package verified and expanded with the updater's own reading code, as
// stages 1 and 2 run it: outer header, key block, digest, inner header,
// archive and expansion, then the script parsed. The expansion lies in a
// scratch directory that goes with the object; inspect lists it and check
// compares it with an installation.
#pragma once

#include "AtomicOutput.h"

#include <kw/archive/ArchiveLoader.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>

namespace kw {
namespace archive {
class Directory;
}
namespace xml {
class XmlDocument;
class XmlElement;
} // namespace xml
} // namespace kw

namespace kwpack {

class VerifiedPackage {
public:
    // Raises the updater's error (or PackError) for a package the updater
    // would refuse.
    VerifiedPackage(Env& env, const Path& package, const Path& key_file);
    ~VerifiedPackage();
    VerifiedPackage(const VerifiedPackage&) = delete;
    VerifiedPackage& operator=(const VerifiedPackage&) = delete;

    const std::string& version() const { return version_; }  // four digits
    std::uint64_t compressed_bytes() const { return compressed_bytes_; }
    const Path& extracted() const { return extracted_; }
    const kw::archive::Directory& tree() const;
    const std::string& script_text() const { return script_text_; }
    boost::shared_ptr<kw::xml::XmlElement> script_root() const;

private:
    ScratchDirectory scratch_;
    Path extracted_;
    std::string version_;
    std::uint64_t compressed_bytes_ = 0;
    kw::archive::ArchiveLoader loader_;
    std::string script_text_;
    boost::shared_ptr<kw::xml::XmlDocument> script_;
};

} // namespace kwpack
