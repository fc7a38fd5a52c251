#include <gtest/gtest.h>

#include <cstring>

#include "base/Error.h"
#include "base/NumericText.h"
#include "base/TextCodec.h"
#include "support/TempDir.h"

namespace quorvel {
namespace {

const std::string kRussian = "Не задан e-mail";
const std::string kRussianCp1251 = "\xCD\xE5 \xE7\xE0\xE4\xE0\xED e-mail";

// Both ways; what does not convert is replaced (U+FFFD, or '?' in CP1251); a cut never splits a
// character.
TEST(TextCodec, ConvertsBothWaysReplacesWhatDoesNotConvertAndCutsWholeCharacters) {
    const TextCodec cp1251("CP1251"), utf8("UTF-8");
    EXPECT_EQ(cp1251.FromUtf8(kRussian), kRussianCp1251);
    EXPECT_EQ(cp1251.ToUtf8(kRussianCp1251), kRussian);
    for (const auto& [codec, text] :
         {std::pair{cp1251, "a\x98z"}, {utf8, "a\xD0z"}, {utf8, "a\xF4\x90\x80\x80z"}}) {
        EXPECT_EQ(codec.ToUtf8(text), "a\xEF\xBF\xBDz") << text;
    }
    EXPECT_EQ(cp1251.FromUtf8("x\xE2\x82\xACy") + cp1251.FromUtf8("x\xE4\xB8\xADy"),
              "x\x88yx?y");  // the euro exists
    EXPECT_EQ(std::string(utf8.CutToBytes("ab\xD0\x96", 3)) + "|" +
                  std::string(utf8.CutToBytes("ab\xD0\x96", 4)) + "|" +
                  std::string(cp1251.CutToBytes(kRussianCp1251, 3)),
              "ab|ab\xD0\x96|\xCD\xE5 ");
    EXPECT_EQ(utf8.CutToBytes("a\x96\x96\x96\x96", 4), "a\x96\x96\x96")
        << "stray continuation bytes";
    {
        testing::ScopedLocale c("C");
        EXPECT_TRUE(TextCodec::ForLocale().IsUtf8()) << "the C locale counts as UTF-8";
    }
    testing::ScopedLocale locale("ru_RU.CP1251");
    if (!locale.Active())
        GTEST_SKIP() << "the ru_RU.CP1251 locale is not generated on this machine";
    EXPECT_EQ(TextCodec::ForLocale().FromUtf8(kRussian), kRussianCp1251);
}
// Blanks around the number are allowed; halves round to even.
TEST(NumericText, ConvertsLikeTheRuntimeAndRefusesWhatIsNotA16BitNumber) {
    for (const auto& [text, value] : std::vector<std::pair<const char*, std::string>>{
             {"  1000 ", "1000"},   {"+7", "7"},
             {"-5", "-5"},          {"2.5", "2"},
             {"3.5", "4"},          {"2.51", "3"},
             {"-2.5", "-2"},        {".5", "0"},
             {"32767", "32767"},    {"-32768", "-32768"},
             {"", "EINVAL"},        {"  ", "EINVAL"},
             {"12abc", "EINVAL"},   {"1 2", "EINVAL"},
             {"--1", "EINVAL"},     {".", "EINVAL"},
             {"32768", "ERANGE"},   {"-32769", "ERANGE"},
             {"32767.5", "ERANGE"}, {"99999999999999999999", "ERANGE"}}) {
        std::string got;
        try {
            got = std::to_string(ToInteger16(text));
        } catch (const Error& e) {
            got = ::strerrorname_np(e.Number());
        }
        EXPECT_EQ(got, value) << text;
    }
}

}  // namespace
}  // namespace quorvel
