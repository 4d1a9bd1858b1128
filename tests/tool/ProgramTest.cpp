// The program in-process, with the simulated host told to fail, for the failures no input file
// can provoke: the plug-in's own errors and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "Host/OmbrelHost.h"
#include "Program.h"
#include "RunInProcess.h"
#include "TempFolder.h"

using namespace OmbrelRenderTest;
namespace fs = std::filesystem;

TEST(Program, RendersTheChartInProcess) {
    TempFolder folder;
    const ProgramRun r = run({"--size", "32x16", "-o", (folder / "c.raw").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder / "c.raw"));
}

TEST(Program, AnUnknownKernelValueIsWarnedOfOnceInOneLine) {
    TempFolder folder;
    setenv("OMBREL_KERNEL", "scalar\n", 1);
    const ProgramRun r = run({"-q", "--size", "32x16", "-o", (folder / "c.raw").string()});
    unsetenv("OMBREL_KERNEL");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.rfind("ombrel-render: warning: OMBREL_KERNEL='scalar\\n' is not", 0), 0u)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(Program, ARenderErrorIsNamedWithItsNumberAndTheTargetIsKept) {
    struct Case {
        const char* callback;
        PF_Err err;
    };
    for (const Case c : {Case{"checkout_layer", PF_Err_OUT_OF_MEMORY},
                         Case{"checkout_output", PF_Err_BAD_CALLBACK_PARAM},
                         Case{"iterate_generic", PF_Err_INTERNAL_STRUCT_DAMAGED}}) {
        TempFolder folder;
        writeText(folder / "old.png", "previous");
        const ProgramRun r = run(
            {"--size", "32x16", "-o", (folder / "old.png").string()},
            [&](OmbrelHost::Host& host) { host.faults().failingCallbacks[c.callback] = c.err; });
        EXPECT_EQ(r.exitCode, 1) << c.callback;
        EXPECT_NE(r.err.find("test chart: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(OmbrelHost::errorName(c.err)), std::string::npos)
            << c.callback << ": " << r.err;
        EXPECT_EQ(readText(folder / "old.png"), "previous");
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"old.png"});
    }
}

TEST(Program, ThePluginsMessageIsShownWithItsError) {
    TempFolder folder;
    const ProgramRun r =
        run({"--size", "32x16", "-o", (folder / "x.png").string()}, [](OmbrelHost::Host& host) {
            host.faults().refusedSuites = {{"PF World Suite", 1}, {"PF World Suite", 2}};
        });
    EXPECT_EQ(r.exitCode, 1);
    const std::string name = OmbrelHost::errorName(PF_Err_BAD_CALLBACK_PARAM);
    const auto at = r.err.find(name + ": ");
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_GT(r.err.size(), at + name.size() + 3) << "empty message: " << r.err;
    EXPECT_TRUE(folder.entries().empty());
}

TEST(Program, AFailedGlobalSetupIsReportedAndNothingRenders) {
    TempFolder folder;
    const ProgramRun r = run({"--size", "32x16", "-o", (folder / "x.png").string()},
                             [](OmbrelHost::Host& host) { host.faults().nullNewHandle = true; });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("global setup"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(OmbrelHost::errorName(PF_Err_INTERNAL_STRUCT_DAMAGED)), std::string::npos)
        << r.err;
    EXPECT_TRUE(folder.entries().empty());
}

TEST(Program, UsageErrorsComeBeforeTheModuleIsLoaded) {
    const ProgramRun r = run({"--jobs", "0"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
}
