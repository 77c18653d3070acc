#include "KWUpdater.h"

#include "KWUpdaterError.h"
#include "Platform.h"
#include "StageDir.h"
#include "Stages.h"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include <iostream>

namespace fs = boost::filesystem;

namespace {

void RemovePackage(const fs::path& package)
{
    fs::remove(package);
}

std::string StemOf(const fs::path& package)
{
    const std::string name = platform::PathToNarrow(package.filename());
    if (name == "." || name == "..") return name;
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

UpdatePaths::UpdatePaths(const fs::path& package_path)
    : package(package_path),
      base_dir(package_path.parent_path()),
      update_dir(base_dir / ".update"),
      backup_dir(base_dir / ".backup"),
      key_file(base_dir / "bin/lmfile"),
      stem(StemOf(package_path)),
      extract_dir(update_dir / platform::NarrowToPath(stem)),
      temp_package(StageDir::TemporaryPackage(extract_dir)),
      stage_file(StageDir::StageFile(update_dir, stem))
{
}

StageOperations::StageOperations()
    : decrypt(&::decrypt),
      expand(&::expand),
      replace(&::replace),
      post_process(&::post_process),
      remove_package(&RemovePackage)
{
}

int update(const std::string& package, const StageOperations& op)
{
    const UpdatePaths paths(platform::NarrowToPath(package));
    // The stem names the extraction directory: "" or "." would make it the
    // update directory itself, whose clean-up would take other packages'
    // working files with it.
    if (paths.stem.empty() || paths.stem == "." || paths.stem == "..") {
        const std::string text = "unusable package name \"" + platform::PathToNarrow(paths.package.filename()) +
                                 "\": its name without the extension is empty, \".\" or \"..\"";
        KW_FAIL(text.c_str(), "update");
    }
    StageDir stage_dir(paths.update_dir, paths.backup_dir, paths.stem);
    const fs::path stem_path = platform::NarrowToPath(paths.stem);

    // Compared unsigned: a negative record is as unknown as a large one.
    const unsigned done = static_cast<unsigned>(StageDir::CheckStage(paths.update_dir, paths.stem));
    if (done > 3) KW_FAIL("unknown stage", "update");

    if (done == 0) {
        StageDir::BeginStage(1);
        op.decrypt(package, platform::PathToNarrow(paths.key_file), paths.extract_dir);
        StageDir::FlushWork(paths.temp_package);
        StageDir::FinishStage(paths.stem, stage_dir, 1);
    }
    if (done <= 1) {
        StageDir::BeginStage(2);
        op.expand(paths.update_dir, paths.extract_dir);
        StageDir::FlushWork(paths.extract_dir);
        StageDir::FinishStage(paths.stem, stage_dir, 2);
    }
    const int script_stage = done >= 2 ? static_cast<int>(done) + 1 : 3;
    StageDir::BeginStage(script_stage);
    op.replace(stem_path, paths.base_dir, stage_dir, script_stage, paths.extract_dir);
    StageDir::FinishStage(paths.stem, stage_dir, 4);

    try {
        op.post_process(stage_dir, paths.extract_dir, paths.stem);
        op.remove_package(paths.package);
    } catch (const std::exception&) {
        std::cerr << "Post porcess was failed." << std::endl;
        std::cerr << boost::format("You can delete '.update', '.backup' and '%s' manually.") %
                         platform::NarrowToConsole(platform::PathToNarrow(paths.package.filename()))
                  << std::endl;
    }
    return 0;
}

int RunUpdater(int argc, char** argv, const StageOperations& operations, std::istream* input)
{
    if (argc < 2) {
        std::cerr << boost::format("Usage: %s update-package-file") % argv[0] << std::endl;
        return 1;
    }
    int code = 1;
    try {
        code = update(platform::ArgumentToNarrow(argv[1]), operations);
        std::cout << (code == 0 ? "Update was completed successfully." : "Update failed.") << std::endl;
    } catch (const kw::ModuleError& e) {
        // The program's own errors carry narrow text; every other error's
        // text is native (a file-system error names a native path).
        std::cerr << boost::format("Error: %s") % platform::NarrowToConsole(e.Message()) << std::endl;
        std::cout << "Update failed." << std::endl;
        code = 1;
    } catch (const std::exception& e) {
        std::cerr << boost::format("Error: %s") % platform::NativeToConsole(e.what()) << std::endl;
        std::cout << "Update failed." << std::endl;
        code = 1;
    }
    std::cout << "Press enter key to exit updater." << std::endl;
    (input ? *input : std::cin).get();
    return code;
}
