#include "HeldFile.h"

#include "NativeText.h"

namespace kw {
namespace updater {

std::string HeldText(const std::string& what, const Path& file)
{
    return what + ": " + PathToNarrow(file) + " is held open by another process";
}

} // namespace updater
} // namespace kw
