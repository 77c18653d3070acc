#include "ArchiveWalk.h"

#include <kw/archive/Directory.h>
#include <kw/archive/File.h>

#include <boost/pointer_cast.hpp>

#include <ostream>
#include <streambuf>
#include <vector>

namespace kwfuzz {

namespace {

using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

// Takes every byte and keeps none: File::Write's output goes nowhere.
class DiscardBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

} // namespace

ArchiveSummary WalkArchive(kw::archive::Archive& archive, const std::function<void(const std::string&)>& on_name)
{
    ArchiveSummary summary;
    const boost::shared_ptr<Node> top = archive.GetRoot().GetChildNode("/");
    if (!top) return summary;
    if (top->GetType() != kw::archive::NodeDirectory) Fail("the top node is not a directory");

    DiscardBuffer discard;
    std::ostream sink(&discard);
    std::vector<boost::shared_ptr<Directory>> pending{boost::dynamic_pointer_cast<Directory>(top)};
    summary.has_top = true;
    Directory::NodeCallback visit = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
        if (!node) Fail("a directory holds an empty node");
        if (on_name) on_name(name);
        ++summary.nodes;
        (void)node->GetCreated();
        (void)node->GetModified();
        if (node->GetType() == kw::archive::NodeDirectory) {
            const boost::shared_ptr<Directory> directory = boost::dynamic_pointer_cast<Directory>(node);
            if (!directory) Fail("a directory-typed node is no Directory");
            pending.push_back(directory);
        } else if (node->GetType() == kw::archive::NodeFile) {
            const boost::shared_ptr<File> file = boost::dynamic_pointer_cast<File>(node);
            if (!file) Fail("a file-typed node is no File");
            const unsigned size = file->GetSize();
            if (file->Write(sink) != size) Fail("File::Write wrote less than GetSize");
            summary.bytes += size;
        } else {
            Fail("a node of unknown type");
        }
        return true;
    };
    while (!pending.empty()) {
        const boost::shared_ptr<Directory> directory = pending.back();
        pending.pop_back();
        if (!directory) Fail("an empty directory pointer");
        const std::uint64_t expected = summary.nodes + directory->GetCount();
        if (!directory->ForeachNode(visit)) Fail("ForeachNode stopped though the callback went on");
        if (summary.nodes != expected) Fail("ForeachNode visited another count than GetCount");
    }
    return summary;
}

} // namespace kwfuzz
