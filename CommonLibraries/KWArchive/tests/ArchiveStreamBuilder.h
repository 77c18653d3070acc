// Test-only writer of archive streams: raw records for crafting flawed
// streams, and a serializer of a described tree in depth-first or
// breadth-first record order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kwtest {

// Appends little-endian records to a byte string, starting with an 8-byte
// prologue.
class StreamWriter {
public:
    explicit StreamWriter(const std::string& prologue = "KWUP0100");

    StreamWriter& U32(std::uint32_t value);
    StreamWriter& U64(std::uint64_t value);
    StreamWriter& NodeRecord(std::uint32_t length, std::uint32_t type, std::uint64_t created = 0,
                             std::uint64_t modified = 0);
    // An entry whose name length is the name's size.
    StreamWriter& Entry(std::uint32_t type, std::uint32_t offset, const std::string& name);
    // Bytes followed by zero padding up to a multiple of 4.
    StreamWriter& Padded(const std::string& bytes);
    StreamWriter& Raw(const std::string& bytes);

    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::string& Bytes() const { return bytes_; }
    std::string& Bytes() { return bytes_; }

private:
    std::string bytes_;
};

// A tree to serialize: a directory with its children in the order their
// entries are written, or a file with its content.
struct TreeSpec {
    static TreeSpec Dir(std::uint64_t created = 0, std::uint64_t modified = 0);
    static TreeSpec FileOf(const std::string& content, std::uint64_t created = 0, std::uint64_t modified = 0);
    TreeSpec& Add(const std::string& name, TreeSpec child);

    std::uint32_t type = 1;
    std::uint64_t created = 0;
    std::uint64_t modified = 0;
    std::string content;
    std::vector<std::pair<std::string, TreeSpec>> children;
};

enum class Order { DepthFirst, BreadthFirst };

std::string Serialize(const TreeSpec& top, Order order, const std::string& prologue = "KWUP0100");

} // namespace kwtest
