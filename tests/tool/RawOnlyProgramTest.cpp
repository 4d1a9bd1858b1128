// The program in a build without the image library (the Windows build): the built-in chart and
// raw files render, every other format is refused with exit code 1 and nothing written, and the
// module is read and loaded the platform's way.
#include <gtest/gtest.h>

#include <sstream>

#include "Chart.h"
#include "Host/Image.h"
#include "Program.h"
#include "RawFiles.h"
#include "RunInProcess.h"
#include "TempFolder.h"

using namespace OmbrelRenderTest;
using OmbrelHost::Depth;
namespace fs = std::filesystem;

namespace {

class RawOnly : public ::testing::TestWithParam<Depth> {};

TEST_P(RawOnly, TheChartRendersTheSameWithOneAndSeveralThreads) {
    const Depth depth = GetParam();
    const std::string bits = depth == Depth::Bits8 ? "8" : depth == Depth::Bits16 ? "16" : "32";
    TempFolder folder;
    std::vector<std::uint8_t> first;
    for (const char* threads : {"1", "5"}) {
        const fs::path out = folder / (std::string("chart-") + threads + ".raw");
        const ProgramRun r = run({"-q", "--from", "3", "--depth", bits, "--size", "96x48",
                                  "--threads", threads, "-o", out.string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const OmbrelHost::Image image = OmbrelRender::readRawFile(out, 96, 48, depth);
        // Not the chart any more: the conversion ran.
        EXPECT_NE(image.pixels, OmbrelRender::makeChart(96, 48, depth).pixels);
        if (first.empty())
            first = image.pixels;
        else
            EXPECT_EQ(image.pixels, first) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, RawOnly,
                         ::testing::Values(Depth::Bits8, Depth::Bits16, Depth::Bits32));

TEST(RawOnlyFormats, OtherFormatsAreRefusedAndNothingIsWritten) {
    TempFolder folder;
    writeText(folder / "photo.png", "not read");
    const struct {
        std::vector<std::string> args;
        std::string file; // named in the message
    } cases[] = {
        {{"-o", (folder / "out.png").string()}, (folder / "out.png").string()},
        {{"-o", (folder / "out.tif").string()}, (folder / "out.tif").string()},
        {{(folder / "photo.png").string(), "-o", (folder / "out.raw").string()},
         (folder / "photo.png").string()},
        {{"--contact-sheet", (folder / "sheet.png").string()}, (folder / "sheet.png").string()},
    };
    for (const auto& c : cases) {
        const ProgramRun r = run(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.file;
        EXPECT_NE(r.err.find(c.file + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("not supported in this build"), std::string::npos) << r.err;
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"photo.png"});
    }
}

TEST(RawOnlyFormats, InfoReadsThePiPLAndGlobalSetup) {
    const ProgramRun r = run({"--info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("PiPL: 12 properties"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("8BIM 8664  EntryPointFunc"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("version     0x00080601"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("cannot be loaded"), std::string::npos) << r.out;
}

TEST(RawOnlyFormats, AModuleWithoutAPiPLIsRefused) {
    for (const char* option : {"--info", "--about"}) {
        const ProgramRun r = run({option, "--module", FAKE_NO_PIPL_PATH});
        EXPECT_EQ(r.exitCode, 1) << option;
        // The module is named by its absolute path, in the system's own spelling.
        const std::string name = std::filesystem::path(FAKE_NO_PIPL_PATH).filename().string();
        EXPECT_NE(r.err.find(name + ": no PiPL"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
