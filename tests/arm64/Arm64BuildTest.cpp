// The aarch64 build (build-arm64) checked from this one: its module file as this build reads it,
// and its ombrel-render under qemu naming the kernel path it runs and writing the same bytes as
// this build's ombrel-render. Each test skips itself while the aarch64 build is not there.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "RawFiles.h"
#include "RunTool.h"
#include "SameBytes.h"

using namespace OmbrelRenderTest;
namespace fs = std::filesystem;

namespace {

const fs::path kArmBuild = OMBREL_ARM64_BUILD_DIR;
const fs::path kModule = kArmBuild / "OmbrelColorSpaceConversion.so";
const fs::path kArmTool = kArmBuild / "ombrel-render";
const fs::path kArmSet = kArmBuild / "tests" / "windows" / "ombrel-render-set";
const fs::path kQemu = OMBREL_QEMU;

std::optional<std::string> missing(std::initializer_list<fs::path> files) {
    for (const fs::path& file : files)
        if (file.empty() || !fs::exists(file))
            return file.string() + " is not there (the aarch64 build: cmake --preset arm64)";
    return std::nullopt;
}

// The command that runs a program of the aarch64 build under qemu, with OMBREL_KERNEL set.
std::vector<std::string> underQemu(const std::string& kernel, const fs::path& program,
                                   std::vector<std::string> args) {
    args.insert(args.begin(), {"env", "OMBREL_KERNEL=" + kernel, kQemu.string(), "-L",
                               "/usr/aarch64-linux-gnu", program.string()});
    return args;
}

TEST(Arm64Module, IsAnAArch64ModuleThisHostReadsButCannotLoad) {
    if (const auto why = missing({kModule}))
        GTEST_SKIP() << *why;
    const OmbrelHost::ModuleFile info = OmbrelHost::readModuleFile(kModule);
    EXPECT_EQ(info.platform, "Linux AArch64");
    EXPECT_FALSE(info.loadableHere);
    EXPECT_EQ(info.pipl, OmbrelHost::readModuleFile(OMBREL_MODULE_PATH).pipl);
}

TEST(Arm64Tool, InfoNamesTheNeonPathAndScalarWhenAsked) {
    if (const auto why = missing({kArmTool, kQemu}))
        GTEST_SKIP() << *why;
    const TempFolder folder;
    for (const auto& [kernel, line] :
         {std::pair<std::string, std::string>{"", "neon (the fastest path this CPU has)"},
          {"neon", "neon (OMBREL_KERNEL asks for it)"},
          {"scalar", "scalar (OMBREL_KERNEL asks for it)"},
          {"avx2", "neon (OMBREL_KERNEL asks for a path"}}) {
        const ToolRun run = runCommand(folder, underQemu(kernel, kArmTool, {"--info"}));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("\nConversion kernels: " + line), std::string::npos)
            << kernel << ":\n"
            << run.out;
    }
}

// The chart in every conversion at every depth, and a frame of special floats, on each path of
// the aarch64 build against this build's own choice.
class Arm64SameBytes : public ::testing::TestWithParam<const char*> {};

TEST_P(Arm64SameBytes, TheChartAndSpecialFloatsInEveryConversionAndDepth) {
    if (const auto why = missing({kModule, kArmSet, kQemu}))
        GTEST_SKIP() << *why;
    const Image special = specialFrame();
    const std::string size = std::to_string(special.width) + "x" + std::to_string(special.height);
    const TempFolder native, arm;
    for (const TempFolder* folder : {&native, &arm})
        OmbrelRender::writeRawFile(*folder / "special.raw", special);
    const ToolRun nativeRun =
        runCommand(native, {OMBREL_RENDER_SET_PATH, OMBREL_MODULE_PATH, size});
    ASSERT_EQ(nativeRun.exitCode, 0) << nativeRun.err;
    const ToolRun armRun =
        runCommand(arm, underQemu(GetParam(), kArmSet, {kModule.string(), size}));
    ASSERT_EQ(armRun.exitCode, 0) << armRun.err;
    EXPECT_EQ(armRun.out.rfind(std::string("Conversion kernels: ") + GetParam() + " (", 0), 0u)
        << armRun.out;

    expectSameOutputs(native, arm, special);
}

INSTANTIATE_TEST_SUITE_P(EveryKernelPath, Arm64SameBytes, ::testing::Values("neon", "scalar"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
