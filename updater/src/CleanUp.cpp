#include "CleanUp.h"

#include "NativeText.h"
#include "StageRecord.h"
#include "UpdateScript.h"

#include <kw/ModuleError.h>
#include <kw/xml/XmlDocument.h>

namespace kw {
namespace updater {

void post_process(const Context& context, const UpdatePaths& paths, Backups& backups)
{
    Env& env = context.env;
    try {
        // A run that found stage 4 recorded has not read the script: the
        // version it updated from names this update's backups.
        if (backups.From().empty())
            backups.SetFrom(read_versions(read_script(env, paths.extract_dir)->GetRootElement()).from);
        // The stage record goes first: a clean-up interrupted after it starts
        // the update again from the package, and every step then finds its
        // work done, whereas one interrupted with stage 4 still recorded
        // would stop at "unknown stage".
        RemoveStage(env, paths.update_dir, paths.stage_file);
        env.Remove(paths.temp_package);
        RemoveAll(env, paths.extract_dir);
        env.Remove(paths.temporary); // left by an interrupted placement
        RemoveUpdateDirIfEmpty(env, paths.update_dir);
        backups.RemoveBackup();
    } catch (const kw::ModuleError& e) {
        context.listener.CleanUpError(NarrowToConsole(e.Message()));
        throw;
    } catch (const std::exception& e) {
        context.listener.CleanUpError(NativeToConsole(e.what())); // native, as file-system errors are
        throw;
    }
}

} // namespace updater
} // namespace kw
