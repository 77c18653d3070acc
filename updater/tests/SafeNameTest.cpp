// The name policy shared by the archive expansion and the update script.
#include "SafeName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SafeNameTest, ComponentMustNameOneEntryOfItsDirectory)
{
    for (const std::string name : {"a", "..x", "a..b.txt", ". x", "表ソ能", "x.kwtmp", "CONSOLE", "COM0", "LPT10.txt", "con-x"})
        EXPECT_EQ(nullptr, safename::ComponentProblem(name)) << name;

    EXPECT_STREQ("is empty", safename::ComponentProblem(""));
    EXPECT_STREQ("is \".\"", safename::ComponentProblem("."));
    EXPECT_STREQ("is \"..\"", safename::ComponentProblem(".."));
    EXPECT_STREQ("holds '/'", safename::ComponentProblem("../x"));
    EXPECT_STREQ("holds '\\'", safename::ComponentProblem("..\\x"));
    EXPECT_STREQ("holds ':' (a drive or a stream)", safename::ComponentProblem("c:x"));
    EXPECT_STREQ("holds a NUL byte", safename::ComponentProblem(std::string("a\0b", 3)));

    // Names Windows cannot hold, refused on every host.
    for (const std::string name : {"...", "a.", "a ", "x. "})
        EXPECT_STREQ("ends in a dot or space (Windows cannot hold it)", safename::ComponentProblem(name)) << name;
    for (const std::string name : {"CON", "prn.txt", "Aux.tar.gz", "nul", "COM1", "com9.log", "LPT1", "lpt9", "CON .txt"})
        EXPECT_STREQ("is a device name (Windows cannot hold it)", safename::ComponentProblem(name)) << name;
    for (const std::string name : {"a<b", "a>b", "a\"b", "a|b", "a?b", "a*b"})
        EXPECT_STREQ("holds one of <>\"|?* (Windows cannot hold it)", safename::ComponentProblem(name)) << name;
    for (const std::string name : {"a\tb", "\x1F", "a\nb"})
        EXPECT_STREQ("holds a control character (Windows cannot hold it)", safename::ComponentProblem(name)) << name;
}

TEST(SafeNameTest, RelativePathMustStayBelowItsDirectory)
{
    for (const std::string path : {"bin", "bin/plugins", "..x/a..b/x", "データ/表"})
        EXPECT_EQ(nullptr, safename::RelativePathProblem(path)) << path;

    EXPECT_STREQ("is empty", safename::RelativePathProblem(""));
    for (const std::string path : {"/bin", "bin/", "bin//x"})
        EXPECT_STREQ("has an empty component", safename::RelativePathProblem(path)) << path;
    for (const std::string path : {"..", "bin/..", "../x", "a/./b", "."})
        EXPECT_STREQ("has a \".\" or \"..\" component", safename::RelativePathProblem(path)) << path;
    EXPECT_STREQ("holds '\\'", safename::RelativePathProblem("bin\\..\\x"));
    EXPECT_STREQ("holds ':' (a drive or a stream)", safename::RelativePathProblem("C:/x"));

    EXPECT_EQ("bin/x", safename::DropLeadingSlash("/bin/x"));
    EXPECT_EQ("", safename::DropLeadingSlash("/"));
    EXPECT_EQ("/x", safename::DropLeadingSlash("//x"));
    EXPECT_EQ("bin", safename::DropLeadingSlash("bin"));
}

} // namespace
