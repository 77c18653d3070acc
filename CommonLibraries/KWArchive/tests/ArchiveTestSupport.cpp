#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
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
    return LoadResult{ok, loader.GetReadingOffset(), loader.GetBody(), std::move(source)};
}

void ExpectTimes(const kw::archive::NodeIf& node, std::uint64_t created, std::uint64_t modified)
{
    EXPECT_EQ(created, TicksOf(node.GetCreated())) << "created";
    EXPECT_EQ(modified, TicksOf(node.GetModified())) << "modified";
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

// A loaded tree as the shape that would serialize to it, so one dump serves both.
TreeSpec ShapeOf(const Directory& directory)
{
    TreeSpec shape = TreeSpec::Dir(TicksOf(directory.GetCreated()), TicksOf(directory.GetModified()));
    Directory::NodeCallback add = [&](const std::string& name, const boost::shared_ptr<Node>& node) {
        if (node->GetType() == kw::archive::NodeFile) {
            shape.Add(name, TreeSpec::FileOf(Content(static_cast<const File&>(*node)), TicksOf(node->GetCreated()),
                                             TicksOf(node->GetModified())));
        } else {
            shape.Add(name, ShapeOf(static_cast<const Directory&>(*node)));
        }
        return true;
    };
    directory.ForeachNode(add);
    return shape;
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

std::string Dump(const Directory& directory) { return Dump(ShapeOf(directory)); }

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

unsigned WriteInto(RecordingBuffer& buffer, const File& file)
{
    std::ostream out(&buffer);
    return file.Write(out);
}

void ExpectBlocks(const File& file, const std::vector<std::size_t>& sizes, const std::string& content)
{
    EXPECT_EQ(content.size(), file.GetSize());
    RecordingBuffer buffer;
    EXPECT_EQ(content.size(), WriteInto(buffer, file));
    std::vector<std::size_t> written_sizes;
    std::string written;
    for (const std::string& piece : buffer.pieces) {
        written_sizes.push_back(piece.size());
        written += piece;
    }
    EXPECT_EQ(sizes, written_sizes);
    EXPECT_EQ(content, written);
}

RecordingBuffer::int_type RecordingBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

} // namespace kwtest
