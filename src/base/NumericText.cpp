#include "base/NumericText.h"

#include <langinfo.h>

#include <cerrno>
#include <string>

#include "base/Error.h"
#include "base/TextRules.h"

namespace quorvel {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDecimalSeparator(char c) {
    const char* radix = nl_langinfo(RADIXCHAR);
    return c == '.' || (radix != nullptr && radix[0] == c && radix[1] == '\0');
}

[[noreturn]] void NotANumber(std::string_view text) {
    throw Error(EINVAL, "\"" + std::string(text) + "\" is not a number");
}

// Rounds integer + fraction (digits after the separator) to the nearest integer, halves to even.
long RoundHalfEven(long integer, std::string_view fraction) {
    if (fraction.empty()) return integer;
    bool more = fraction.find_first_not_of('0', 1) != std::string_view::npos;
    if (fraction[0] > '5' || (fraction[0] == '5' && more)) return integer + 1;
    if (fraction[0] == '5' && integer % 2 != 0) return integer + 1;
    return integer;
}

}  // namespace

std::int16_t ToInteger16(std::string_view text) {
    std::string_view number = TrimBlanks(text);

    std::size_t pos = 0;
    bool negative = false;
    if (pos < number.size() && (number[pos] == '+' || number[pos] == '-'))
        negative = number[pos++] == '-';

    long integer = 0;
    bool digits = false, tooLarge = false;
    for (; pos < number.size() && IsDigit(number[pos]); ++pos) {
        digits = true;
        integer = integer * 10 + (number[pos] - '0');
        if (integer > 1'000'000) tooLarge = true, integer = 1'000'000;
    }
    std::string_view fraction;
    if (pos < number.size() && IsDecimalSeparator(number[pos])) {
        std::size_t start = ++pos;
        while (pos < number.size() && IsDigit(number[pos])) ++pos;
        fraction = number.substr(start, pos - start);
        digits = digits || !fraction.empty();
    }
    if (!digits || pos != number.size()) NotANumber(text);

    long value = RoundHalfEven(integer, fraction);
    if (negative) value = -value;
    if (tooLarge || value < -32768 || value > 32767) {
        throw Error(ERANGE, "\"" + std::string(text) + "\" is outside the range -32768 to 32767");
    }
    return static_cast<std::int16_t>(value);
}

}  // namespace quorvel
