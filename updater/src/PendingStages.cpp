// Weak stand-ins for stage operations whose modules have not landed yet;
// each real definition replaces its stand-in at link time. Temporary.
#include "KWUpdaterError.h"
#include "Stages.h"

__attribute__((weak)) void decrypt(const std::string&, const std::string&, const boost::filesystem::path&)
{
    KW_FAIL("stage 1 is not built yet", "decrypt");
}

__attribute__((weak)) void expand(const boost::filesystem::path&, const boost::filesystem::path&)
{
    KW_FAIL("stage 2 is not built yet", "expand");
}

__attribute__((weak)) void replace(const boost::filesystem::path&, const boost::filesystem::path&, StageDir&, int,
                                   const boost::filesystem::path&)
{
    KW_FAIL("stages 3 and 4 are not built yet", "replace");
}

__attribute__((weak)) void post_process(const StageDir&, const boost::filesystem::path&, const std::string&)
{
    KW_FAIL("clean-up is not built yet", "post_process");
}
