#include <gtest/gtest.h>

#include <cstring>

#include "base/Error.h"
#include "base/NumericText.h"
#include "base/TextCodec.h"

namespace quorvel {
namespace {

// options.ini and mail.log are in the locale's charset: both ways, what does not convert is
// replaced (U+FFFD, or '?' in CP1251), and a cut never splits a character.
TEST(TextCodec, ConvertsBothWaysReplacesWhatDoesNotConvertAndCutsWholeCharacters) {
    const TextCodec cp1251("CP1251"), utf8("UTF-8");
    const std::string russian = "Не задан e-mail",
                      inCp1251 = "\xCD\xE5 \xE7\xE0\xE4\xE0\xED e-mail";
    EXPECT_EQ(cp1251.FromUtf8(russian), inCp1251);
    EXPECT_EQ(cp1251.ToUtf8(inCp1251), russian);
    EXPECT_EQ(cp1251.ToUtf8("a\x98z") + utf8.ToUtf8("a\xD0z"), "a\xEF\xBF\xBDza\xEF\xBF\xBDz");
    EXPECT_EQ(cp1251.FromUtf8("x\xE2\x82\xACy\xE4\xB8\xAD"), "x\x88y?");  // the euro exists
    EXPECT_EQ(std::string(utf8.CutToBytes("ab\xD0\x96", 3)) + "|" +
                  std::string(cp1251.CutToBytes(inCp1251, 3)),
              "ab|\xCD\xE5 ");
}
// [Main] Timer and the other numbers: blanks around the number allowed, halves round to even.
TEST(NumericText, ConvertsLikeTheRuntimeAndRefusesWhatIsNotA16BitNumber) {
    for (const auto& [text, value] :
         std::vector<std::pair<const char*, std::string>>{{"  1000 ", "1000"},
                                                          {"+7", "7"},
                                                          {"2.5", "2"},
                                                          {"3.5", "4"},
                                                          {"-2.5", "-2"},
                                                          {"-32768", "-32768"},
                                                          {"", "EINVAL"},
                                                          {"12abc", "EINVAL"},
                                                          {"1 2", "EINVAL"},
                                                          {"32768", "ERANGE"},
                                                          {"32767.5", "ERANGE"}}) {
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
