#include "Cli.h"

#include "ArgParser.h"
#include "AtomicOutput.h"
#include "InstallationCheck.h"
#include "PackageReport.h"
#include "KeyGen.h"
#include "PackError.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include "Progress.h"
#include "RsaKey.h"
#include "ScriptWriter.h"

#include <kw/ModuleError.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>


namespace kwpack {
namespace {

const OptionSpec kForce{"force", "", false, "replace an existing output"};
const OptionSpec kQuiet{"quiet", "", false, "draw no progress bar"};
const OptionSpec kFrom{"from", "V1", false, "version the installation has (required)"};
const OptionSpec kTo{"to", "V2", false, "version after the update (required)"};
const OptionSpec kCheck{"check", "PATH", true,
                        "installed file whose digest proves the version (default: every modified file)"};
const OptionSpec kKey{"key", "PRIVATE_KEY", false, "PEM private key made by keygen (required)"};
const OptionSpec kJobs{"jobs", "N", false, "compression threads (default: one per core)"};
const OptionSpec kLmfile{"lmfile", "LMFILE", false, "the installation's key file (required)"};
const OptionSpec kJson{"json", "", false, "write the report as one JSON document"};
const OptionSpec kCreationTimes{"creation-times", "", false,
                                "carry the creation times read from the disk (default: the modification times)"};
const OptionSpec kVersion{"version", "NNNN", false, "package format version, four digits (default 0111)"};

struct Command {
    CommandSpec syntax;
    std::function<int(Env&, const ParsedArgs&)> run;
};

std::string Required(const ParsedArgs& args, const std::string& option)
{
    if (!args.Flag(option)) throw UsageError("--" + option + " is required");
    return args.Value(option, "");
}

int ParseNumber(const std::string& text, const std::string& option)
{
    try {
        std::size_t used = 0;
        const int number = std::stoi(text, &used);
        if (used == text.size()) return number;
    } catch (const std::exception&) {
        // no number at all, or one out of range
    }
    throw UsageError("--" + option + " needs a number, not \"" + text + "\"");
}

int RunKeygen(Env& env, const ParsedArgs& args)
{
    const int bits = ParseNumber(args.Value("bits", std::to_string(kDefaultKeyBits)), "bits");
    GenerateKeyFiles(env, args.positional[0], args.positional[1], bits, args.Flag("force"));
    std::cout << "wrote private key " << args.positional[0] << " and key file " << args.positional[1] << " ("
              << bits << " bits)" << std::endl;
    return 0;
}

// SOURCE_DATE_EPOCH, the reproducible-builds convention: the time, in
// seconds since 1970, of what a build makes itself.
boost::optional<std::int64_t> SourceDateEpoch()
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return boost::none;
    std::int64_t seconds = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || seconds > (INT64_MAX - 9) / 10)
            throw UsageError(std::string("SOURCE_DATE_EPOCH must be a count of seconds, not \"") + text + "\"");
        seconds = seconds * 10 + (*c - '0');
    }
    return seconds;
}

ScriptOptions ScriptOptionsFrom(const ParsedArgs& args, const Path& out_dir)
{
    ScriptOptions options;
    options.old_dir = args.positional[0];
    options.new_dir = args.positional[1];
    options.out_dir = out_dir;
    options.from = Required(args, "from");
    options.to = Required(args, "to");
    options.checks = args.All("check");
    options.force = args.Flag("force");
    options.creation_times = args.Flag("creation-times");
    options.source_date = SourceDateEpoch();
    return options;
}

void ReportScript(const ScriptSummary& summary, const std::string& what)
{
    std::cout << what << ": " << summary.modified << " modified, "
              << summary.added << " added, " << summary.created << " new directories" << std::endl;
    if (summary.removed.empty()) return;
    std::cerr << "warning: " << summary.removed.size()
              << " entries exist only in the old tree; an update cannot remove them, they stay installed:\n";
    for (const std::string& path : summary.removed) std::cerr << "  " << path << "\n";
    std::cerr.flush();
}

int RunScript(Env& env, const ParsedArgs& args)
{
    const Path out_dir = args.positional[2];
    ReportScript(WriteUpdateDirectory(env, ScriptOptionsFrom(args, out_dir)), "wrote " + (out_dir / kScriptName).string());
    return 0;
}

BuildOptions BuildOptionsFrom(const ParsedArgs& args, const Path& source, const Path& package)
{
    BuildOptions options;
    options.source = source;
    options.package = package;
    options.key = Required(args, "key");
    options.version = args.Value("version", kw::updater::kNewestVersionText);
    options.force = args.Flag("force");
    options.creation_times = args.Flag("creation-times");
    if (args.Flag("jobs")) {
        const int jobs = ParseNumber(args.Value("jobs", ""), "jobs");
        if (jobs < 1) throw UsageError("--jobs needs at least 1");
        options.jobs = unsigned(jobs);
    }
    return options;
}

void ReportBuild(const BuildSummary& summary, const Path& package)
{
    std::cout << "wrote " << package.string() << ": " << summary.package_bytes << " bytes (archive "
              << summary.archive_bytes << " bytes, compressed " << summary.compressed_bytes << ")" << std::endl;
}

int RunBuild(Env& env, const ParsedArgs& args)
{
    const Path package = args.positional[1];
    ReportBuild(BuildPackage(env, BuildOptionsFrom(args, args.positional[0], package)), package);
    return 0;
}

int RunMake(Env& env, const ParsedArgs& args)
{
    const Path package = args.positional[2];
    BuildOptions build = BuildOptionsFrom(args, "", package);
    // Refuse before comparing trees: the comparison may take long.
    RsaPrivateKey::Load(env, build.key);
    RefuseExisting(env, package, build.force);
    ScratchDirectory scratch(env, env.Absolute(package));
    build.source = scratch.path() / "update";
    ScriptOptions script = ScriptOptionsFrom(args, build.source);
    script.force = false;
    ReportScript(WriteUpdateDirectory(env, script), "update script");
    ReportBuild(BuildPackage(env, build), package);
    return 0;
}

int RunInspect(Env& env, const ParsedArgs& args)
{
    InspectPackage(env, args.positional[0], Required(args, "lmfile"), args.Flag("json"), std::cout);
    std::cout.flush();
    return 0;
}

// Exit code of a check whose package is sound but would not apply.
constexpr int kWouldFail = 3;

int RunCheck(Env& env, const ParsedArgs& args)
{
    const bool complete =
        CheckInstallation(env, args.positional[0], args.positional[1], Required(args, "lmfile"), args.Flag("json"), std::cout);
    std::cout.flush();
    return complete ? 0 : kWouldFail;
}

std::vector<Command> Commands()
{
    return {
        {{"keygen",
          {"PRIVATE_KEY", "LMFILE"},
          {{"bits", "N", false, "modulus size, 1024 to 4096 (default 2048)"}, kForce},
          "make an RSA key pair",
          "Makes an RSA key pair with public exponent 65537. PRIVATE_KEY receives the private key\n"
          "as PEM (mode 0600); LMFILE receives the key file an installation keeps as bin/lmfile:\n"
          "the modulus, least significant byte first. Existing files are kept unless --force."},
         RunKeygen},
        {{"script",
          {"OLD_DIR", "NEW_DIR", "OUT_DIR"},
          {kFrom, kTo, kCheck, kCreationTimes, kForce, kQuiet},
          "write an update directory from two trees",
          "Compares the installation tree OLD_DIR with the tree of the next version NEW_DIR and\n"
          "writes OUT_DIR: update.xml and the new and changed files where the updater takes them.\n"
          "Changed files are replaced (the script carries the old file's digest), new files added,\n"
          "new directories created. Files only in OLD_DIR cannot be removed by an update; they\n"
          "are listed as a warning."},
         RunScript},
        {{"build",
          {"SOURCE_DIR", "PACKAGE"},
          {kKey, kVersion, kJobs, kCreationTimes, kForce, kQuiet},
          "pack an update directory into a package",
          "Packs SOURCE_DIR (usually made by script) into the update package PACKAGE: the archive\n"
          "of the tree, bzip2-compressed, encrypted with Camellia-256 under the SHA-256 of the\n"
          "compressed data, that key wrapped with the RSA private key. PACKAGE appears only when\n"
          "complete."},
         RunBuild},
        {{"make",
          {"OLD_DIR", "NEW_DIR", "PACKAGE"},
          {kKey, kFrom, kTo, kCheck, kVersion, kJobs, kCreationTimes, kForce, kQuiet},
          "script and build in one step",
          "Runs script into a temporary directory and builds PACKAGE from it."},
         RunMake},
        {{"inspect",
          {"PACKAGE"},
          {kLmfile, kJson},
          "verify a package and list its content",
          "Verifies PACKAGE with the updater's own reading code, under the key file LMFILE:\n"
          "header, key block, digest, inner header, archive and expansion, and that update.xml\n"
          "parses. Then lists the tree with sizes and times, and the script. Exits with 0 only\n"
          "for a package the updater accepts."},
         RunInspect},
        {{"check",
          {"PACKAGE", "INSTALLATION"},
          {kLmfile, kJson},
          "predict what an update would do to an installation",
          "Verifies PACKAGE as inspect does, then predicts with the updater's own script code\n"
          "what it would do to the installation INSTALLATION, without writing anything there:\n"
          "the version check for every digest, and for every script entry whether it would be\n"
          "replaced, found already new, added, skipped, created as a directory or refused. A\n"
          "refusal names the file, with the installed and the expected digest. Exits with 0 when\n"
          "the update would complete, 3 when it would fail, 1 when the package is refused."},
         RunCheck},
    };
}

std::string OverallHelp(const std::vector<Command>& commands)
{
    std::string text = "usage: KWPack COMMAND [ARGUMENTS] [--help]\n\nThe update package producer.\n\ncommands:\n";
    for (const Command& c : commands) {
        std::string left = "  " + c.syntax.name;
        left.resize(12, ' ');
        text += left + c.syntax.summary + "\n";
    }
    return text + "\n\"KWPack COMMAND --help\" describes one command.\n";
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args)
{
    Env& env = Env::Default();
    const std::vector<Command> commands = Commands();
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? std::cerr : std::cout) << OverallHelp(commands);
        return args.empty() ? 2 : 0;
    }
    const Command* command = nullptr;
    for (const Command& c : commands)
        if (c.syntax.name == args[0]) command = &c;
    if (!command) {
        std::cerr << "KWPack: unknown command \"" << args[0] << "\"\n" << OverallHelp(commands);
        return 2;
    }
    try {
        const ParsedArgs parsed = ParseArguments(command->syntax, std::vector<std::string>(args.begin() + 1, args.end()));
        if (parsed.help) {
            std::cout << command->syntax.Help();
            return 0;
        }
        Progress::Enable(!parsed.Flag("quiet") && env.StandardErrorIsTerminal());
        return command->run(env, parsed);
    } catch (const UsageError& e) {
        std::cerr << "KWPack " << command->syntax.name << ": " << e.what() << "\nusage: " << command->syntax.Usage()
                  << "\n";
        return 2;
    } catch (const kw::ModuleError& e) {
        std::cerr << "KWPack " << command->syntax.name << ": error: " << e.Message() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "KWPack " << command->syntax.name << ": error: " << e.what() << "\n";
    }
    return 1;
}

} // namespace kwpack
