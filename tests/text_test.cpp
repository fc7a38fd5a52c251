#include <gtest/gtest.h>

#include "base/Error.h"
#include "base/NumericText.h"
#include "base/TextCodec.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

const std::string kRussian = "Не задан e-mail";
const std::string kRussianCp1251 = "\xCD\xE5 \xE7\xE0\xE4\xE0\xED e-mail";

TEST(TextCodec, ConvertsBothWaysAndReplacesWhatDoesNotConvert) {
    EXPECT_EQ(TextCodec("CP1251").FromUtf8(kRussian), kRussianCp1251);
    EXPECT_EQ(TextCodec("CP1251").ToUtf8(kRussianCp1251), kRussian);
    // 0x98 has no character in Windows-1251; a broken UTF-8 sequence in the middle of a line.
    EXPECT_EQ(TextCodec("CP1251").ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(TextCodec("UTF-8").ToUtf8("a\xD0z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(TextCodec("UTF-8").ToUtf8("a\xF4\x90\x80\x80z"), "a\xEF\xBF\xBDz") << "above U+10FFFF";
    // A character that Windows-1251 cannot hold is written as '?'.
    EXPECT_EQ(TextCodec("CP1251").FromUtf8("x\xE2\x82\xACy"), "x\x88y");  // the euro sign exists
    EXPECT_EQ(TextCodec("CP1251").FromUtf8("x\xE4\xB8\xADy"), "x?y");
}

TEST(TextCodec, CutNeverSplitsAUtf8Character) {
    TextCodec utf8("UTF-8");
    EXPECT_EQ(utf8.CutToBytes("ab\xD0\x96", 3), "ab");
    EXPECT_EQ(utf8.CutToBytes("ab\xD0\x96", 4), "ab\xD0\x96");
    EXPECT_EQ(utf8.CutToBytes("a\x96\x96\x96\x96", 4), "a\x96\x96\x96") << "stray continuation bytes";
    EXPECT_EQ(TextCodec("CP1251").CutToBytes(kRussianCp1251, 3), "\xCD\xE5 ");
}

TEST(TextCodec, LocaleCharsetIsFollowed) {
    {
        testing::ScopedLocale c("C");
        EXPECT_TRUE(TextCodec::ForLocale().IsUtf8()) << "the C locale counts as UTF-8";
    }
    testing::ScopedLocale cp1251("ru_RU.CP1251");
    if (!cp1251.Active()) GTEST_SKIP() << "the ru_RU.CP1251 locale is not generated on this machine";
    EXPECT_EQ(TextCodec::ForLocale().FromUtf8(kRussian), kRussianCp1251);
}

// Blanks around the number are allowed; halves round to even.
TEST(NumericText, ConvertsLikeTheRuntimeAndRefusesWhatIsNotA16BitNumber) {
    for (const auto& [text, value] : std::vector<std::pair<const char*, int>>{
             {"300", 300}, {"  1000 ", 1000}, {"+7", 7}, {"-5", -5}, {"2.5", 2}, {"3.5", 4}, {"2.51", 3},
             {"-2.5", -2}, {".5", 0}, {"32767", 32767}, {"-32768", -32768}}) {
        EXPECT_EQ(ToInteger16(text), value) << text;
    }
    for (const auto& [text, number] : std::vector<std::pair<const char*, int>>{
             {"", EINVAL}, {"  ", EINVAL}, {"abc", EINVAL}, {"12abc", EINVAL}, {"1 2", EINVAL}, {"--1", EINVAL},
             {".", EINVAL}, {"32768", ERANGE}, {"40000", ERANGE}, {"-32769", ERANGE}, {"32767.5", ERANGE},
             {"99999999999999999999", ERANGE}}) {
        try {
            ADD_FAILURE() << "\"" << text << "\" gave " << ToInteger16(text);
        } catch (const Error& e) {
            EXPECT_EQ(e.Number(), number) << text;
        }
    }
}

}  // namespace
}  // namespace quorvel
