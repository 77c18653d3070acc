#include "CleanUp.h"

#include "NativeText.h"
#include "StageRecord.h"
#include "UpdateScript.h"

#include <kw/ModuleError.h>
#include <kw/xml/XmlDocument.h>

namespace kw {
namespace updater {

namespace {

// Runs `step`; its failure is reported to the listener and raised on.
template <class Step>
void Reporting(const Context& context, Step step)
{
    try {
        step();
    } catch (const kw::ModuleError& e) {
        context.listener.CleanUpError(NarrowToConsole(e.Message()));
        throw;
    } catch (const std::exception& e) {
        context.listener.CleanUpError(NativeToConsole(e.what())); // native, as file-system errors are
        throw;
    }
}

} // namespace

void post_process(const Context& context, const UpdatePaths& paths, Backups& backups)
{
    Env& env = context.env;
    Reporting(context, [&] {
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
    });
}

void remove_update_dir(const Context& context, FileLock& lock, const Path& update_dir)
{
    Reporting(context, [&] {
        lock.Release();
        RemoveUpdateDirIfEmpty(context.env, update_dir);
    });
}

} // namespace updater
} // namespace kw
