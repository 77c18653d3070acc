#include "KWUpdater.h"

#include "ArchiveExpansion.h"
#include "CleanUp.h"
#include "ConsoleListener.h"
#include "KWUpdaterError.h"
#include "NativeText.h"
#include "PackageReader.h"
#include "StageRecord.h"
#include "WorkingFiles.h"

#include <boost/format.hpp>

#include <algorithm>
#include <iostream>

namespace kw {
namespace updater {
namespace {

std::string StemOf(const Path& package)
{
    const std::string name = PathToNarrow(package.filename());
    if (name == "." || name == "..") return name;
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

UpdatePaths::UpdatePaths(Env& env, const Path& package_path)
    : package(package_path),
      base_dir(package_path.parent_path()),
      update_dir(base_dir / ".update"),
      backup_dir(base_dir / ".backup"),
      key_file(base_dir / "bin/lmfile"),
      stem(StemOf(package_path)),
      extract_dir(update_dir / NarrowToPath(stem)),
      temp_package(TemporaryPackage(env, extract_dir)),
      stage_file(StageFile(env, update_dir, stem)),
      temporary(TemporaryFile(stage_file))
{
}

StageOperations::StageOperations()
    : decrypt([](const Context& c, const UpdatePaths& p) { kw::updater::decrypt(c, p.package, p.key_file, p.extract_dir); }),
      expand([](const Context& c, const UpdatePaths& p) { kw::updater::expand(c, p.update_dir, p.extract_dir); }),
      replace(&kw::updater::replace),
      post_process(&kw::updater::post_process),
      remove_package([](Env& env, const Path& package) { env.Remove(package); })
{
}

int update(const Context& context, const std::string& package, const StageOperations& op)
{
    Env& env = context.env;
    UpdateListener& say = context.listener;
    const UpdatePaths paths(env, NarrowToPath(package));
    // The stem names the extraction directory: "" or "." would make it the
    // update directory itself, whose clean-up would take other packages'
    // working files with it.
    if (paths.stem.empty() || paths.stem == "." || paths.stem == "..") {
        const std::string text = "unusable package name \"" + PathToNarrow(paths.package.filename()) +
                                 "\": its name without the extension is empty, \".\" or \"..\"";
        KW_FAIL(text.c_str(), "update");
    }
    Backups backups(env, paths.backup_dir);

    const bool fresh = CreateUpdateDir(env, paths.update_dir);
    std::unique_ptr<FileLock> lock = LockUpdateDir(env, paths.update_dir);
    const ResumePlan resume = PlanResume(fresh ? 0 : ReadStage(env, paths.stage_file));
    if (!resume.known) KW_FAIL("unknown stage", "update");
    if (resume.first_stage <= 1) {
        say.BeginStage(1);
        op.decrypt(context, paths);
        FlushWork(env, paths.temp_package);
        FinishStage(context, paths.stage_file, 1);
    }
    if (resume.first_stage <= 2) {
        say.BeginStage(2);
        op.expand(context, paths);
        FlushWork(env, paths.extract_dir);
        FinishStage(context, paths.stage_file, 2);
    }
    if (resume.first_stage <= 4) {
        const int script_stage = std::max(resume.first_stage, 3);
        say.BeginStage(script_stage);
        op.replace(ScriptRun{context, paths, backups}, script_stage);
        FinishStage(context, paths.stage_file, 4);
    }

    try {
        op.post_process(context, paths, backups);
        remove_update_dir(context, *lock, paths.update_dir);
        op.remove_package(env, paths.package);
    } catch (const std::exception&) {
        say.CleanUpFailed(PathToNarrow(paths.package.filename()));
    }
    return 0;
}

int RunUpdater(int argc, char** argv, const StageOperations& operations, std::istream* input, Env& env)
{
    if (argc < 2) {
        std::cerr << boost::format("Usage: %s update-package-file") % argv[0] << std::endl;
        return 1;
    }
    ConsoleListener console;
    const Context context{env, console};
    int code = 1;
    try {
        code = update(context, ArgumentToNarrow(argv[1]), operations);
        std::cout << (code == 0 ? "Update was completed successfully." : "Update failed.") << std::endl;
    } catch (const kw::ModuleError& e) {
        // The program's own errors carry narrow text; every other error's
        // text is native (a file-system error names a native path).
        std::cerr << boost::format("Error: %s") % NarrowToConsole(e.Message()) << std::endl;
        std::cout << "Update failed." << std::endl;
    } catch (const std::exception& e) {
        std::cerr << boost::format("Error: %s") % NativeToConsole(e.what()) << std::endl;
        std::cout << "Update failed." << std::endl;
    }
    std::cout << "Press enter key to exit updater." << std::endl;
    (input ? *input : std::cin).get();
    return code;
}

} // namespace updater
} // namespace kw
