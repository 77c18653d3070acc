#include "HeldFile.h"

#include "NativeText.h"

namespace kw {
namespace updater {

std::string HeldText(const std::string& what, const Path& file)
{
    return what + ": " + PathToNarrow(file) + " is in use by another process";
}

} // namespace updater
} // namespace kw
