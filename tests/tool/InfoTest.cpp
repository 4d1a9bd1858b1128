#include <gtest/gtest.h>

#include "Info.h"

using namespace OmbrelRender;

namespace {

std::uint32_t packVersion(unsigned major, unsigned minor, unsigned fix, unsigned stage,
                          unsigned build) {
    return (major << 19) | (minor << 15) | (fix << 11) | (stage << 9) | build;
}

} // namespace

TEST(Info, VersionsUnpackEveryField) {
    EXPECT_EQ(versionText(0x00080601), "1.0.0, release, build 1");
    EXPECT_EQ(versionText(packVersion(5, 9, 3, 1, 300)), "5.9.3, alpha, build 300");
    EXPECT_EQ(versionText(packVersion(7, 15, 15, 2, 511)), "7.15.15, beta, build 511");
    EXPECT_EQ(versionText(0), "0.0.0, develop, build 0");
}

TEST(Info, FlagsAreNamedAndTheRestShownInHex) {
    const std::initializer_list<std::pair<std::uint32_t, const char*>> known = {{0x1, "ONE"},
                                                                                {0x4, "FOUR"}};
    EXPECT_EQ(flagNames(0, known), "none");
    EXPECT_EQ(flagNames(0x5, known), "ONE, FOUR");
    EXPECT_EQ(flagNames(0x80000004, known), "FOUR, 0x80000000");
    EXPECT_EQ(flagNames(0x2, known), "0x00000002");
}

TEST(Info, AnOmbrelKernelValueTheRuleDoesNotKnowIsWarnedOf) {
    for (const char* known : {"", "auto", "scalar", "sse2", "sse41", "avx2", "avx512"})
        EXPECT_FALSE(unknownKernelWarning(known)) << known;
    EXPECT_FALSE(unknownKernelWarning(nullptr));
    for (const char* unknown : {"SCALAR", "scalar\n", " avx2", "neon-ish"}) {
        const auto warning = unknownKernelWarning(unknown);
        ASSERT_TRUE(warning) << unknown;
        std::string said = "'";
        said += unknown;
        said += "' is not a kernel path (scalar, ";
        EXPECT_NE(warning->find(said), std::string::npos) << *warning;
    }
}

TEST(Info, AboutTextBecomesLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"Name, v1.00\rCredit", "Name, v1.00\nCredit\n"},
        {"A\r\nB\n", "A\nB\n"},
        {"A\r\rB", "A\n\nB\n"},
        {"", ""},
    };
    for (const auto& [message, text] : cases)
        EXPECT_EQ(aboutText(message), text) << message;
}
