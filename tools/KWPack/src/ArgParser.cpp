#include "ArgParser.h"

#include "PackError.h"

#include <algorithm>

namespace kwpack {

std::string CommandSpec::Usage() const
{
    std::string usage = "KWPack " + name;
    for (const std::string& p : positional) usage += " " + p;
    for (const OptionSpec& o : options) {
        usage += " [--" + o.name + (o.value.empty() ? "" : " " + o.value) + "]";
        if (o.repeatable) usage += "...";
    }
    return usage;
}

std::string CommandSpec::Help() const
{
    std::string text = "usage: " + Usage() + "\n\n" + description + "\n";
    text += "\noptions:\n  --help" + std::string(22, ' ') + "show this text\n";
    for (const OptionSpec& o : options) {
        std::string left = "  --" + o.name + (o.value.empty() ? "" : " " + o.value);
        left.resize(std::max<std::size_t>(left.size() + 2, 30), ' ');
        text += left + o.help + "\n";
    }
    return text;
}

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const
{
    auto found = values.find(name);
    return found == values.end() ? fallback : found->second.back();
}

std::vector<std::string> ParsedArgs::All(const std::string& name) const
{
    auto found = values.find(name);
    return found == values.end() ? std::vector<std::string>() : found->second;
}

ParsedArgs ParseArguments(const CommandSpec& syntax, const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "--help") {
            parsed.help = true;
            continue;
        }
        // "--name=VALUE" carries its value inline.
        const std::size_t eq = arg.find('=');
        const bool has_inline = eq != std::string::npos;
        const std::string name = arg.substr(2, has_inline ? eq - 2 : std::string::npos);
        auto option = std::find_if(syntax.options.begin(), syntax.options.end(),
                                   [&](const OptionSpec& o) { return o.name == name; });
        if (option == syntax.options.end()) throw UsageError("unknown option --" + name + " for " + syntax.name);
        std::string value;
        if (option->value.empty()) {
            if (has_inline) throw UsageError("option --" + name + " takes no value");
        } else if (has_inline) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("option --" + name + " needs a value " + option->value);
        }
        std::vector<std::string>& slot = parsed.values[name];
        if (!slot.empty() && !option->repeatable) throw UsageError("option --" + name + " given twice");
        slot.push_back(value);
    }
    if (!parsed.help && parsed.positional.size() != syntax.positional.size())
        throw UsageError(syntax.name + " takes " + std::to_string(syntax.positional.size()) + " arguments, " +
                         std::to_string(parsed.positional.size()) + " given");
    return parsed;
}

} // namespace kwpack
