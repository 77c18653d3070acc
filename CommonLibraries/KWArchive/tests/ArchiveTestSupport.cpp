#include "ArchiveTestSupport.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>

namespace kwtest {

using kw::archive::Directory;
using kw::archive::File;
using kw::archive::Node;

unsigned StringSource::operator()(void* destination, unsigned capacity)
{
    capacities_.push_back(capacity);
    const std::size_t count = std::min<std::size_t>({capacity, step_, bytes_.size() - position_});
    std::memcpy(destination, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<unsigned>(count);
}

LoadResult Load(const std::string& bytes, unsigned step)
{
    kw::archive::ArchiveLoader loader;
    StringSource source(bytes, step);
    const bool ok = loader.ReadFromStream(boost::ref(source));
    return LoadResult{ok, loader.GetReadingOffset(), loader.GetBody()};
}

std::uint64_t Ticks(const FILETIME& time) { return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

FILETIME MakeFileTime(std::uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<std::uint32_t>(ticks);
    time.dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
    return time;
}

namespace {

std::string Printable(const std::string& name)
{
    std::ostringstream out;
    for (unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F && c != '\\') out << c;
        else out << "\\x" << std::hex << int(c) << std::dec;
    }
    return out.str();
}

std::string Line(const std::string& path, std::uint32_t type, std::uint64_t created, std::uint64_t modified,
                 const std::string* content)
{
    std::ostringstream out;
    out << path << " type=" << type << " c=" << created << " m=" << modified;
    if (content) out << " size=" << content->size() << " [" << Printable(*content) << "]";
    out << "\n";
    return out.str();
}

void DumpInto(const Directory& directory, const std::string& path, std::string& out)
{
    Directory::NodeCallback visit = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
        const std::string child_path = path + "/" + Printable(name);
        if (node->GetType() == kw::archive::NodeFile) {
            const std::string content = Content(static_cast<const File&>(*node));
            out += Line(child_path, 2, Ticks(node->GetCreated()), Ticks(node->GetModified()), &content);
        } else {
            out += Line(child_path, 1, Ticks(node->GetCreated()), Ticks(node->GetModified()), nullptr);
            DumpInto(static_cast<const Directory&>(*node), child_path, out);
        }
        return true;
    };
    directory.ForeachNode(visit);
}

void DumpInto(const TreeSpec& shape, const std::string& path, std::string& out)
{
    std::map<std::string, const TreeSpec*> sorted;
    for (const auto& child : shape.children) sorted.emplace(child.first, &child.second);
    for (const auto& child : sorted) {
        const std::string child_path = path + "/" + Printable(child.first);
        const TreeSpec& node = *child.second;
        out += Line(child_path, node.type, node.created, node.modified, node.type == 2 ? &node.content : nullptr);
        if (node.type == 1) DumpInto(node, child_path, out);
    }
}

} // namespace

std::string Dump(const Directory& directory)
{
    std::string out = Line("", 1, Ticks(directory.GetCreated()), Ticks(directory.GetModified()), nullptr);
    DumpInto(directory, "", out);
    return out;
}

std::string Dump(const TreeSpec& shape)
{
    std::string out = Line("", 1, shape.created, shape.modified, nullptr);
    DumpInto(shape, "", out);
    return out;
}

boost::shared_ptr<Directory> Top(const boost::shared_ptr<kw::archive::Archive>& archive)
{
    return boost::dynamic_pointer_cast<Directory>(archive->GetRoot().GetChildNode("/"));
}

std::string Content(const File& file)
{
    std::ostringstream out;
    file.Write(out);
    return out.str();
}

std::streamsize RecordingBuffer::xsputn(const char* data, std::streamsize count)
{
    if (fail_at_ >= 0 && pieces.size() >= static_cast<std::size_t>(fail_at_)) return 0;
    pieces.emplace_back(data, static_cast<std::size_t>(count));
    return count;
}

RecordingBuffer::int_type RecordingBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

} // namespace kwtest
