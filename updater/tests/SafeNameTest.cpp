// The name policy shared by the archive expansion and the update script.
#include "SafeName.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

const char kDeviceName[] =
    "is a device name of Windows (CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9, with or without an extension)";

TEST(SafeNameTest, ComponentMustNameOneEntryOfItsDirectory)
{
    for (const std::string name : {"a", "..x", "a..b.txt", ". x", "表ソ能", "x.kwtmp", "COM10", "LPT10.txt", "CONSOLE",
                                   "xnul.txt", "con_1", "AUX1.txt", "\x7F"})
        EXPECT_EQ(nullptr, safename::ComponentProblem(name)) << name;

    EXPECT_STREQ("is empty", safename::ComponentProblem(""));
    EXPECT_STREQ("is \".\"", safename::ComponentProblem("."));
    EXPECT_STREQ("is \"..\"", safename::ComponentProblem(".."));
    EXPECT_STREQ("holds '/'", safename::ComponentProblem("../x"));
    EXPECT_STREQ("holds '\\'", safename::ComponentProblem("..\\x"));
    EXPECT_STREQ("holds ':' (a drive or a stream)", safename::ComponentProblem("c:x"));
    EXPECT_STREQ("holds a NUL byte", safename::ComponentProblem(std::string("a\0b", 3)));

    // Names that Windows cannot hold, refused on every host.
    for (const std::string name : {"a.", "...", "x.txt."})
        EXPECT_STREQ("ends in a dot, which Windows drops from names", safename::ComponentProblem(name)) << name;
    for (const std::string name : {"a ", " ", "CON "})
        EXPECT_STREQ("ends in a space, which Windows drops from names", safename::ComponentProblem(name)) << name;
    for (const std::string name : {"CON", "con.txt", "Prn", "aux.c", "nul.tar.gz", "COM1", "com9.log", "LPT1", "lPt5.x",
                                   "NUL .txt"})
        EXPECT_STREQ(kDeviceName, safename::ComponentProblem(name)) << name;
    for (const char c : std::string("<>\"|?*"))
        EXPECT_STREQ((std::string("holds '") + c + "', which Windows refuses in names").c_str(),
                     safename::ComponentProblem(std::string("x") + c + "y"));
    for (const std::string name : {"a\x01", "\tx", "x\x1Fy"})
        EXPECT_STREQ("holds a control character, which Windows refuses in names", safename::ComponentProblem(name));
}

TEST(SafeNameTest, RelativePathMustStayBelowItsDirectory)
{
    for (const std::string path : {"bin", "bin/plugins", "..x/a..b/COM10", "データ/表"})
        EXPECT_EQ(nullptr, safename::RelativePathProblem(path)) << path;

    EXPECT_STREQ("is empty", safename::RelativePathProblem(""));
    for (const std::string path : {"/bin", "bin/", "bin//x"})
        EXPECT_STREQ("has an empty component", safename::RelativePathProblem(path)) << path;
    for (const std::string path : {"..", "bin/..", "../x", "a/./b", "."})
        EXPECT_STREQ("has a \".\" or \"..\" component", safename::RelativePathProblem(path)) << path;
    EXPECT_STREQ("holds '\\'", safename::RelativePathProblem("bin\\..\\x"));
    EXPECT_STREQ("holds ':' (a drive or a stream)", safename::RelativePathProblem("C:/x"));
    EXPECT_STREQ("ends in a dot, which Windows drops from names", safename::RelativePathProblem("bin/.../x"));
    EXPECT_STREQ(kDeviceName, safename::RelativePathProblem("bin/aux/x"));

    EXPECT_EQ("bin/x", safename::DropLeadingSlash("/bin/x"));
    EXPECT_EQ("", safename::DropLeadingSlash("/"));
    EXPECT_EQ("/x", safename::DropLeadingSlash("//x"));
    EXPECT_EQ("bin", safename::DropLeadingSlash("bin"));
    EXPECT_EQ("/bin", safename::DropTrailingSlash("/bin/"));
    for (const std::string path : {"/", "bin//", "bin"}) EXPECT_EQ(path, safename::DropTrailingSlash(path));
}

// Windows compares names upper-cased one UTF-16 unit at a time: letters of
// every script a CP932 name holds fold; widths, kana sizes and ligatures
// never do.
TEST(SafeNameTest, NamesFoldAsWindowsComparesThem)
{
    const std::pair<std::string, std::string> same[] = {
        {"readme.TXT", "README.txt"}, {"ａｂｚ.txt", "ＡＢＺ.TXT"}, {"αβως", "ΑΒΩΣ"}, {"σ", "ς"},
        {"дёя", "ДЁЯ"},  {"ⅰⅹ", "ⅠⅩ"}, {"ⓐⓩ", "ⒶⓏ"}};
    for (const auto& pair : same) EXPECT_EQ(safename::FoldCase(pair.first), safename::FoldCase(pair.second)) << pair.first;
    const std::pair<std::string, std::string> distinct[] = {
        {"ａ", "A"}, {"ß", "SS"}, {"ｶ", "カ"}, {"ぁ", "あ"}, {"a\xF0\x9F\x98\x80", "A\xF0\x9F\x98\x81"}};
    for (const auto& pair : distinct)
        EXPECT_NE(safename::FoldCase(pair.first), safename::FoldCase(pair.second)) << pair.first;
    // Kana, kanji, digits and marks pass unchanged, as does a sequence cut short.
    EXPECT_EQ("表ソ能-1_(X)", safename::FoldCase("表ソ能-1_(x)"));
    EXPECT_EQ("X\xE3\x81", safename::FoldCase("x\xE3\x81"));

    std::size_t first = 0, second = 0;
    EXPECT_FALSE(safename::FindCaseTwins({"a.txt", "b.txt", "ａ.txt"}, first, second));
    ASSERT_TRUE(safename::FindCaseTwins({"x", "Readme.txt", "y", "README.TXT", "readme.txt"}, first, second));
    EXPECT_EQ(1u, first);
    EXPECT_EQ(3u, second);
}

} // namespace
