#include <gtest/gtest.h>

#include "mail/FileMover.h"

namespace quorvel {
namespace {

TEST(FileMover, NumberedNamesFitIn255BytesAndNeverCutACharacter) {
    std::string wide;
    for (int i = 0; i < 125; ++i) wide += "ж";  // 250 bytes
    const std::pair<std::string, std::string> cases[] = {
        {"archive.tar.gz", "archive.tar (12).gz"}, {"README", "README (12)"}, {".profile", ".profile (12)"},
        {std::string(251, 'y') + ".txt", std::string(246, 'y') + " (12).txt"}, {wide + ".txt", wide.substr(0, 246) + " (12).txt"},
        {"a." + std::string(252, 'e'), "a (12)." + std::string(248, 'e')},
    };
    for (const auto& [name, numbered] : cases) EXPECT_EQ(NumberedName(name, 0) + "|" + NumberedName(name, 12), name + "|" + numbered);
}

}  // namespace
}  // namespace quorvel
