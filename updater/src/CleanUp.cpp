#include "CleanUp.h"

#include "NativeText.h"
#include "StageRecord.h"

#include <kw/ModuleError.h>

namespace kw {
namespace updater {

void post_process(const Context& context, const UpdatePaths& paths, const Backups& backups)
{
    Env& env = context.env;
    try {
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
