// ombrel-render given the macOS bundle: --info shows its PiPL and says the binary cannot be
// loaded here; --about and rendering stop with that error and write nothing.
#include <gtest/gtest.h>

#include <sstream>

#include "Program.h"
#include "TempFolder.h"

namespace {

struct ProgramRun {
    int exitCode;
    std::string out;
    std::string err;
};

ProgramRun run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--module", OMBREL_MAC_BUNDLE_PATH});
    std::ostringstream out, err;
    const int code = OmbrelRender::runProgram(args, out, err, "unused", false, {});
    return {code, out.str(), err.str()};
}

TEST(BundleTool, InfoPrintsTheThirteenPropertiesWithTheEntryPointUnderMi64AndMa64) {
    const ProgramRun r = run({"--info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string expected = std::string("Module: ") + OMBREL_MAC_BUNDLE_PATH +
                                 "\n"
                                 "PiPL: 13 properties\n"
                                 "  8BIM kind  eFKT\n"
                                 "  8BIM name  OmbrelColorSpaceConversion\n"
                                 "  8BIM catg  Ombrel\n"
                                 "  8BIM mi64  EntryPointFunc\n"
                                 "  8BIM ma64  EntryPointFunc\n"
                                 "  8BIM ePVR  2.0\n"
                                 "  8BIM eSVR  13.0\n"
                                 "  8BIM eVER  0x00080601\n"
                                 "  8BIM eINF  0\n"
                                 "  8BIM eGLO  0x02000000\n"
                                 "  8BIM eGL2  0x00001400\n"
                                 "  8BIM eMNA  OmbrelColorSpaceConversion\n"
                                 "  8BIM aeFL  8\n"
                                 "Binary: " +
                                 OMBREL_MAC_BUNDLE_PATH +
                                 "/Contents/MacOS/OmbrelColorSpaceConversion (for macOS): cannot "
                                 "be loaded on this platform\n";
    EXPECT_EQ(r.out, expected);
}

TEST(BundleTool, AboutAndRenderingStopWithTheLoadError) {
    OmbrelRenderTest::TempFolder folder;
    const std::string why = std::string("ombrel-render: ") + OMBREL_MAC_BUNDLE_PATH +
                            ": a macOS bundle: its binary cannot be loaded on this platform (it "
                            "is for macOS)\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--about"}, std::vector<std::string>{"--info", "--about"},
          std::vector<std::string>{"--size", "32x16", "-o", (folder / "out.raw").string()}}) {
        const ProgramRun r = run(args);
        EXPECT_EQ(r.exitCode, 1) << args.front();
        EXPECT_EQ(r.err, why) << args.front();
        EXPECT_EQ(r.out, "") << args.front();
    }
    EXPECT_TRUE(folder.entries().empty());
}

} // namespace
