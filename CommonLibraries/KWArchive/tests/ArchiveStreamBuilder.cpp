#include "ArchiveStreamBuilder.h"

#include <deque>
#include <map>

namespace kwtest {

StreamWriter::StreamWriter(const std::string& prologue) : bytes_(prologue) { bytes_.resize(8, '\0'); }

StreamWriter& StreamWriter::U32(std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return *this;
}

StreamWriter& StreamWriter::U64(std::uint64_t value)
{
    return U32(static_cast<std::uint32_t>(value)).U32(static_cast<std::uint32_t>(value >> 32));
}

StreamWriter& StreamWriter::NodeRecord(std::uint32_t length, std::uint32_t type, std::uint64_t created,
                                       std::uint64_t modified)
{
    return U32(length).U32(type).U64(created).U64(modified);
}

StreamWriter& StreamWriter::Entry(std::uint32_t type, std::uint32_t offset, const std::string& name)
{
    return U32(type).U32(offset).U32(static_cast<std::uint32_t>(name.size())).Padded(name);
}

StreamWriter& StreamWriter::Padded(const std::string& bytes)
{
    bytes_ += bytes;
    bytes_.resize(bytes_.size() + (4 - bytes.size() % 4) % 4, '\0');
    return *this;
}

StreamWriter& StreamWriter::Raw(const std::string& bytes)
{
    bytes_ += bytes;
    return *this;
}

TreeSpec TreeSpec::Dir(std::uint64_t created, std::uint64_t modified) { return TreeSpec{1, created, modified, {}, {}}; }

TreeSpec TreeSpec::FileOf(const std::string& content, std::uint64_t created, std::uint64_t modified)
{
    return TreeSpec{2, created, modified, content, {}};
}

TreeSpec& TreeSpec::Add(const std::string& name, TreeSpec child)
{
    children.emplace_back(name, std::move(child));
    return *this;
}

namespace {

std::uint32_t Padded4(std::size_t n) { return static_cast<std::uint32_t>((n + 3) & ~std::size_t(3)); }

std::uint32_t RecordSize(const TreeSpec& node)
{
    std::uint32_t size = 24;
    if (node.type == 2) return size + Padded4(node.content.size());
    for (const auto& child : node.children) size += 12 + Padded4(child.first.size());
    return size;
}

// The record order: pre-order with an explicit stack, or level by level.
std::vector<const TreeSpec*> RecordOrder(const TreeSpec& top, Order order)
{
    std::vector<const TreeSpec*> sequence;
    std::deque<const TreeSpec*> work{&top};
    while (!work.empty()) {
        const TreeSpec* node;
        if (order == Order::DepthFirst) {
            node = work.back();
            work.pop_back();
            for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
                work.push_back(&child->second);
        } else {
            node = work.front();
            work.pop_front();
            for (const auto& child : node->children) work.push_back(&child.second);
        }
        sequence.push_back(node);
    }
    return sequence;
}

} // namespace

std::string Serialize(const TreeSpec& top, Order order, const std::string& prologue)
{
    const std::vector<const TreeSpec*> sequence = RecordOrder(top, order);
    std::map<const TreeSpec*, std::uint32_t> offsets;
    std::uint32_t offset = 8;
    for (const TreeSpec* node : sequence) {
        offsets[node] = offset;
        offset += RecordSize(*node);
    }

    StreamWriter out(prologue);
    out.Bytes().reserve(offset);
    for (const TreeSpec* node : sequence) {
        if (node->type == 2) {
            out.NodeRecord(static_cast<std::uint32_t>(node->content.size()), 2, node->created, node->modified);
            out.Padded(node->content);
            continue;
        }
        out.NodeRecord(static_cast<std::uint32_t>(node->children.size()), 1, node->created, node->modified);
        for (const auto& child : node->children) out.Entry(child.second.type, offsets[&child.second], child.first);
    }
    return out.Bytes();
}

} // namespace kwtest
