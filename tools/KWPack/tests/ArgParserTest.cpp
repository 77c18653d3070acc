#include "ArgParser.h"
#include "PackError.h"

#include <gtest/gtest.h>

using namespace kwpack;

namespace {

CommandSpec Spec()
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
    ParsedArgs args = ParseArguments(Spec(), {"--check", "a", "in", "--key=k.pem", "--force", "out", "--check", "b"});
    EXPECT_EQ(args.positional, (std::vector<std::string>{"in", "out"}));
    EXPECT_EQ(args.Value("key", "none"), "k.pem");
    EXPECT_EQ(args.All("check"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(args.Flag("force"));
    EXPECT_EQ(args.Value("missing", "fallback"), "fallback");

    // After "--" everything is positional, even a leading "--".
    args = ParseArguments(Spec(), {"--", "--in", "out"});
    EXPECT_EQ(args.positional, (std::vector<std::string>{"--in", "out"}));
}

TEST(ArgParser, RefusesWhatItCannotActOn)
{
    EXPECT_THROW(ParseArguments(Spec(), {"in", "out", "--nope"}), UsageError);
    EXPECT_THROW(ParseArguments(Spec(), {"in", "out", "--key"}), UsageError);
    EXPECT_THROW(ParseArguments(Spec(), {"in", "out", "--key", "a", "--key", "b"}), UsageError);
    EXPECT_THROW(ParseArguments(Spec(), {"in", "out", "--force=yes"}), UsageError);
    EXPECT_THROW(ParseArguments(Spec(), {"in"}), UsageError);
    EXPECT_THROW(ParseArguments(Spec(), {"in", "out", "extra"}), UsageError);
    // --help needs no positionals.
    EXPECT_TRUE(ParseArguments(Spec(), {"--help"}).help);
    EXPECT_NE(Spec().Help().find("--check PATH"), std::string::npos);
}
