#include <gtest/gtest.h>

#include <cstring>

#include "base/Error.h"
#include "base/NumericText.h"

namespace quorvel {
namespace {

// Blanks around the number are allowed; halves round to even.
TEST(NumericText, ConvertsLikeTheRuntimeAndRefusesWhatIsNotA16BitNumber) {
    const std::pair<const char*, std::string> cases[] = {
        {"  1000 ", "1000"}, {"-5", "-5"},          {"2.5", "2"},
        {"3.5", "4"},        {"-2.5", "-2"},        {"-32768", "-32768"},
        {"", "EINVAL"},      {"12abc", "EINVAL"},   {"1 2", "EINVAL"},
        {"32768", "ERANGE"}, {"32767.5", "ERANGE"}, {"99999999999999999999", "ERANGE"}};
    for (const auto& [text, value] : cases) {
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
