#include "HeldFile.h"

namespace heldfile {

std::string HeldText(const std::string& what, const boost::filesystem::path& file)
{
    return what + ": " + platform::PathToNarrow(file) + " is held open by another process";
}

} // namespace heldfile
