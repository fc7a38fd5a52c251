#include <gtest/gtest.h>

#include "mail/FileMover.h"

namespace quorvel {
namespace {

TEST(FileMover, NumberedNamesFitIn255BytesAndNeverCutACharacter) {
    std::string wide;
    for (int i = 0; i < 125; ++i) wide += "ж";  // 250 bytes
    const std::pair<std::string, std::string> cases[] = {
        {"report.pdf", "report (1).pdf"}, {"archive.tar.gz", "archive.tar (1).gz"}, {"README", "README (1)"},
        {".profile", ".profile (1)"}, {std::string(251, 'y') + ".txt", std::string(247, 'y') + " (1).txt"},
        {wide + ".txt", wide.substr(0, 246) + " (1).txt"},
        {"a." + std::string(252, 'e'), "a (1)." + std::string(249, 'e')},
    };
    for (const auto& [name, numbered] : cases) {
        EXPECT_EQ(NumberedName(name, 0), name);
        EXPECT_EQ(NumberedName(name, 1), numbered) << name.size();
    }
    EXPECT_EQ(NumberedName("a.pdf", 12), "a (12).pdf");
}

}  // namespace
}  // namespace quorvel
