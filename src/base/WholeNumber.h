#pragma once

#include <optional>
#include <string_view>

#include "base/TextRules.h"

namespace quorvel {

// A whole decimal number from `min` to `max` (both at most nine digits), blanks around it allowed;
// empty for anything else.
inline std::optional<long> WholeNumber(std::string_view text, long min, long max) {
    const std::string_view digits = TrimBlanks(text);
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

}  // namespace quorvel
