#include "ArgParser.h"
#include "PackError.h"

#include <gtest/gtest.h>

using namespace kwpack;

namespace {

CommandSpec SampleCommand()
{
    return {"demo",
            {"IN", "OUT"},
            {{"key", "FILE", false, "key"}, {"check", "PATH", true, "check"}, {"force", "", false, "force"}},
            "demo",
            "A demo."};
}

} // namespace

TEST(ArgParser, TakesPositionalsValuesRepeatsAndFlagsInAnyOrder)
{
    ParsedArgs args = ParseArguments(SampleCommand(), {"--check", "a", "in", "--key=k.pem", "--force", "out", "--check", "b"});
    EXPECT_EQ(args.positional, (std::vector<std::string>{"in", "out"}));
    EXPECT_EQ(args.Value("key", "none"), "k.pem");
    EXPECT_EQ(args.All("check"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(args.Flag("force"));
    EXPECT_EQ(args.Value("missing", "fallback"), "fallback");

    // After "--" everything is positional, even a leading "--".
    args = ParseArguments(SampleCommand(), {"--", "--in", "out"});
    EXPECT_EQ(args.positional, (std::vector<std::string>{"--in", "out"}));
}

TEST(ArgParser, RefusesWhatItCannotActOn)
{
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in", "out", "--nope"}), UsageError);
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in", "out", "--key"}), UsageError);
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in", "out", "--key", "a", "--key", "b"}), UsageError);
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in", "out", "--force=yes"}), UsageError);
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in"}), UsageError);
    EXPECT_THROW(ParseArguments(SampleCommand(), {"in", "out", "extra"}), UsageError);
    // --help needs no positionals.
    EXPECT_TRUE(ParseArguments(SampleCommand(), {"--help"}).help);
    EXPECT_NE(SampleCommand().Help().find("--check PATH"), std::string::npos);
}
