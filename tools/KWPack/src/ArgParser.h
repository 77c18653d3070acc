// A small command-line parser for the subcommands: positional arguments,
// options with a value ("--name VALUE" or "--name=VALUE"), repeatable
// options and flags, and --help.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kwpack {

struct OptionSpec {
    std::string name;     // without the leading dashes
    std::string value;    // placeholder for the help text; empty for a flag
    bool repeatable;
    std::string help;
};

struct CommandSpec {
    std::string name;
    std::vector<std::string> positional;  // placeholders, all required
    std::vector<OptionSpec> options;
    std::string summary;
    std::string description;

    // The full help text: usage line, description and options.
    std::string Help() const;
    std::string Usage() const;
};

struct ParsedArgs {
    bool help = false;
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;

    bool Flag(const std::string& name) const { return values.count(name) != 0; }
    // The option's value, or `fallback` when it was not given.
    std::string Value(const std::string& name, const std::string& fallback) const;
    std::vector<std::string> All(const std::string& name) const;
};

// Parses the arguments after the subcommand; raises UsageError on unknown
// options, missing values, repeated single options and a wrong count of
// positional arguments (unless --help was given).
ParsedArgs ParseArguments(const CommandSpec& syntax, const std::vector<std::string>& args);

} // namespace kwpack
