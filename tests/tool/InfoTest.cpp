#include <gtest/gtest.h>

#include <algorithm>

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

TEST(Info, AForgedModulesStringsReachTheTerminalEscaped) {
    // A bundle whose CFBundleExecutable and PiPL name carry escape sequences and newlines.
    OmbrelHost::ModuleFile file;
    file.path = "forged.plugin";
    file.platform = "macOS";
    file.binary = "forged.plugin/Contents/MacOS/\x1b]0;owned\x07x\ny";
    OmbrelHost::PiPL pipl;
    pipl.properties.push_back({"8BIM", "name", 0, {}, "\x1b[2Jname\r\nline"});
    const std::string text = foreignModuleText(file, pipl);
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text; // four lines, no more
    EXPECT_NE(text.find("\\e[2Jname\\r\\nline"), std::string::npos) << text;
    EXPECT_NE(text.find("MacOS/\\e]0;owned\\x07x\\ny (for macOS)"), std::string::npos) << text;
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
