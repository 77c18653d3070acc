#include <kw/archive/Archive.h>

namespace kw {
namespace archive {

// The root is part of the archive itself, not a shared node.
class ArchiveImpl {
public:
    Directory root;
};

Archive::Archive() { install(); }

Archive::~Archive() {}

Directory& Archive::GetRoot() { return holder()->root; }

} // namespace archive
} // namespace kw
