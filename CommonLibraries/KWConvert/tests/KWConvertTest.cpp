#include <kw/KWConvert.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using testing::HasSubstr;
using testing::ThrowsMessage;

namespace {
std::string ToSjis(const std::string& utf8)
{
    std::string out;
    kw::ConvertUtf8ToSjis(utf8, out, kw::default_appender());
    return out;
}
} // namespace

TEST(KWConvert, JapaneseNamesRoundTripThroughCp932)
{
    // 表 is 0x95 0x5C in CP932: its second byte is the ASCII backslash.
    EXPECT_EQ(std::string("\x95\x5C", 2), ToSjis("\xE8\xA1\xA8"));
    const std::string name = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"; // 日本語.txt
    EXPECT_EQ(std::string("\x93\xFA\x96\x7B\x8C\xEA.txt"), ToSjis(name));
    EXPECT_EQ(name, kw::ConvertSjisToUtf8(ToSjis(name)));
    EXPECT_EQ("plain", ToSjis("plain"));
    EXPECT_EQ("", ToSjis(""));
}

TEST(KWConvert, AppenderReceivesEveryByte)
{
    std::string out;
    int calls = 0;
    kw::ConvertUtf8ToSjis("\xE8\xA1\xA8" "a", out, [&](std::string& s, char c) { ++calls; s.push_back(c); });
    EXPECT_EQ(3, calls);
    EXPECT_EQ(std::string("\x95\x5C" "a"), out);
}

TEST(KWConvert, UnconvertibleTextIsAClearError)
{
    // An emoji has no CP932 form; 0xFF is not UTF-8; a cut sequence is incomplete.
    for (const std::string& bad : {std::string("\xF0\x9F\x98\x80"), std::string("a\xFF"), std::string("\xE8\xA1")})
        EXPECT_THAT([&] { ToSjis(bad); }, ThrowsMessage<std::invalid_argument>(HasSubstr("cannot convert")));
    EXPECT_THROW(kw::ConvertSjisToUtf8("\x81"), std::invalid_argument);
}

TEST(KWConvert, TextThatDoesNotComeBackTheSameIsRefusedByName)
{
    // 〜 (U+301C) and − (U+2212) share CP932 codes with ～ and －, and ¥ becomes
    // a backslash; 0xED40 is a second code of the kanji that 0xFA5C has.
    for (const std::string& utf8 : {std::string("up\xE3\x80\x9C" "1.kwp"), std::string("\xE2\x88\x92"),
                                    std::string("\xC2\xA5")}) {
        std::string out;
        EXPECT_THAT([&] { kw::ConvertUtf8ToSjis(utf8, out, kw::default_appender()); },
                    ThrowsMessage<std::invalid_argument>(HasSubstr("\"" + utf8 + "\"")));
        EXPECT_EQ("", out);
    }
    EXPECT_THROW(kw::ConvertSjisToUtf8("\xED\x40"), std::invalid_argument);
    EXPECT_EQ("\xEF\xBD\x9E", kw::ConvertSjisToUtf8(ToSjis("\xEF\xBD\x9E"))); // ～ itself comes back
}
