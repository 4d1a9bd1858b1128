// The Windows build (build-win) checked from this one: its module file read without loading
// it, this build's ombrel-render showing that module's PiPL, and ombrel-render.exe under wine
// writing the same bytes as this build's ombrel-render. Each test skips itself while the Windows
// build is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Host/ModuleFile.h"
#include "Host/OmbrelHost.h"
#include "OmbrelPiPL.h"
#include "RawFiles.h"
#include "RunTool.h"
#include "SameBytes.h"

using namespace OmbrelRenderTest;
using OmbrelHost::Depth;
using OmbrelHost::Image;
namespace fs = std::filesystem;

namespace {

const fs::path kWindowsBuild = OMBREL_WINDOWS_BUILD_DIR;
const fs::path kModule = kWindowsBuild / "OmbrelColorSpaceConversion.aex";
const fs::path kWindowsTool = kWindowsBuild / "ombrel-render.exe";
const fs::path kWine = kWindowsBuild / "wine-run"; // wine in the Windows build's own prefix

// Why a test cannot run yet: the first of the files it needs that is missing, or nothing.
std::optional<std::string> missing(std::initializer_list<fs::path> files) {
    for (const fs::path& file : files)
        if (!fs::exists(file))
            return file.string() + " is not there (the Windows build: cmake --preset win)";
    return std::nullopt;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// ---- The module file ------------------------------------------------------------------------

// `objdump -p` of the module: an independent reader of its headers, exports, imports and
// resource tree.
std::string objdump(const fs::path& file) {
    const TempFolder folder;
    const ToolRun run = runCommand(folder, {OMBREL_OBJDUMP, "-p", file.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
}

std::vector<std::string> matches(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m)
        found.push_back((*m)[1]);
    return found;
}

TEST(WindowsModule, IsAnX64DllExportingOnlyTheEntryPoint) {
    if (const auto why = missing({kModule, OMBREL_OBJDUMP}))
        GTEST_SKIP() << *why;
    const std::string dump = objdump(kModule);
    EXPECT_NE(dump.find("file format pei-x86-64"), std::string::npos);
    // The export name table lists "[   0] EntryPointFunc" after its heading.
    const std::string exports = dump.substr(dump.find("[Ordinal/Name Pointer] Table"));
    EXPECT_EQ(
        matches(exports.substr(0, exports.find("\n\n")), std::regex(R"(\n\s*\[\s*\d+\] (\S+))")),
        std::vector<std::string>{"EntryPointFunc"});
    EXPECT_EQ(OmbrelHost::readModuleFile(kModule).platform, "Windows x64");
}

TEST(WindowsModule, ImportsOnlyWindowsOwnLibraries) {
    if (const auto why = missing({kModule, OMBREL_OBJDUMP}))
        GTEST_SKIP() << *why;
    // The compiler's runtime (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) is linked in.
    const std::regex system(R"(kernel32|user32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-.*)");
    const std::vector<std::string> imports =
        matches(objdump(kModule), std::regex(R"(DLL Name: (\S+))"));
    EXPECT_FALSE(imports.empty());
    for (const std::string& dll : imports) {
        const std::string name = lower(dll).substr(0, lower(dll).rfind(".dll"));
        EXPECT_TRUE(std::regex_match(name, system)) << dll << " is not a Windows library";
    }
}

TEST(WindowsModule, CarriesThePiPLAsResource16000InUSEnglish) {
    if (const auto why = missing({kModule}))
        GTEST_SKIP() << *why;
    const std::vector<std::uint8_t> expected(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());
    EXPECT_EQ(OmbrelHost::readModuleFile(kModule).pipl, expected);
    if (!fs::exists(OMBREL_OBJDUMP))
        return;
    // objdump shows the three levels: the named type, the id (16000), the language (1033).
    const std::string dump = objdump(kModule);
    const std::string tree = dump.substr(dump.find("Resource Directory section"));
    EXPECT_TRUE(std::regex_search(
        tree, std::regex(R"(Entry: name: \[[^\]]*\]: PIPL,[^\n]*\n[^\n]*Name Table[^\n]*\n)"
                         R"([^\n]*Entry: ID: 0x003e80,[^\n]*\n[^\n]*Language Table[^\n]*\n)"
                         R"([^\n]*Entry: ID: 0x000409,[^\n]*\n[^\n]*Leaf: [^\n]*Size: 0x00013a)")))
        << tree;
}

// ---- This build's ombrel-render and the Windows module ----------------------------------------

TEST(WindowsModuleHere, InfoShowsItsPiPLAndThatItCannotBeLoadedHere) {
    if (const auto why = missing({kModule}))
        GTEST_SKIP() << *why;
    const TempFolder folder;
    const ToolRun run = runTool(folder, {"--module", kModule.string(), "--info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::istringstream lines(run.out);
    std::vector<std::string> keys;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("  8BIM ", 0) == 0)
            keys.push_back(line.substr(7, 4));
    EXPECT_EQ(keys, (std::vector<std::string>{"kind", "name", "catg", "8664", "ePVR", "eSVR",
                                              "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"}))
        << run.out;
    EXPECT_NE(run.out.find("8BIM 8664  EntryPointFunc\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Binary: " + kModule.string() +
                           " (for Windows x64): cannot be loaded on this platform\n"),
              std::string::npos)
        << run.out;
}

TEST(WindowsModuleHere, AboutAndRenderingFailClearly) {
    if (const auto why = missing({kModule}))
        GTEST_SKIP() << *why;
    const TempFolder folder;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--about"}, std::vector<std::string>{"-o", "x.raw"}}) {
        std::vector<std::string> withModule{"--module", kModule.string()};
        withModule.insert(withModule.end(), args.begin(), args.end());
        const ToolRun run = runTool(folder, withModule);
        EXPECT_EQ(run.exitCode, 1) << args.front();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "ombrel-render: " + kModule.string() +
                               ": a PE module: its binary cannot be loaded on this platform (it "
                               "is for Windows x64)\n");
        EXPECT_TRUE(folder.entries().empty());
    }
}

// ---- Same bytes from both builds ---------------------------------------------------------------

// A Windows program's output as a Linux one writes it: its lines end in CR LF.
std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The command that runs a program of the Windows build, under wine.
std::vector<std::string> underWine(const fs::path& program, std::vector<std::string> args) {
    args.insert(args.begin(), {kWine.string(), program.string()});
    return args;
}

TEST(SameBytes, OmbrelRenderExeWritesWhatOmbrelRenderWrites) {
    if (const auto why = missing({kWindowsTool, kWine}))
        GTEST_SKIP() << *why;
    const std::vector<std::string> args{"--from", "3", "--depth", "16", "-o", "x.raw"};
    const TempFolder native, windows;
    const ToolRun nativeRun = runTool(native, args);
    const ToolRun windowsRun = runCommand(windows, underWine(kWindowsTool, args));
    ASSERT_EQ(nativeRun.exitCode, 0) << nativeRun.err;
    ASSERT_EQ(windowsRun.exitCode, 0) << windowsRun.err;
    EXPECT_EQ(withoutCarriageReturns(windowsRun.out), nativeRun.out);
    const std::string a = readText(native / "x.raw"), b = readText(windows / "x.raw");
    EXPECT_EQ(a.size(), 1024u * 512u * 8u);
    EXPECT_TRUE(a == b) << "first difference: " << firstDifference(a, b, Depth::Bits16, 1024);
}

// Every kernel path, each on both systems: the vector kernels are where the two compilers'
// code generation differs most (and Windows' calling convention and stack alignment).
class SameBytesOnPath : public ::testing::TestWithParam<const char*> {};

TEST_P(SameBytesOnPath, TheChartAndSpecialFloatsInEveryConversionAndDepth) {
    const fs::path windowsSet = kWindowsBuild / "tests" / "windows" / "ombrel-render-set.exe";
    if (const auto why = missing({kModule, windowsSet, kWine}))
        GTEST_SKIP() << *why;
    const std::string kernel = std::string("OMBREL_KERNEL=") + GetParam();
    const Image special = specialFrame();
    const std::string size = std::to_string(special.width) + "x" + std::to_string(special.height);
    const TempFolder native, windows;
    for (const TempFolder* folder : {&native, &windows})
        OmbrelRender::writeRawFile(*folder / "special.raw", special);
    const ToolRun nativeRun =
        runCommand(native, {"env", kernel, OMBREL_RENDER_SET_PATH, OMBREL_MODULE_PATH, size});
    ASSERT_EQ(nativeRun.exitCode, 0) << nativeRun.err;
    std::vector<std::string> command = underWine(windowsSet, {kModule.string(), size});
    command.insert(command.begin(), {"env", kernel});
    const ToolRun windowsRun = runCommand(windows, command);
    ASSERT_EQ(windowsRun.exitCode, 0) << windowsRun.err;
    // Both ran the same kernels: the Windows process saw OMBREL_KERNEL through wine.
    EXPECT_NE(nativeRun.out.find("Conversion kernels: "), std::string::npos) << nativeRun.out;
    EXPECT_EQ(withoutCarriageReturns(windowsRun.out), nativeRun.out);

    expectSameOutputs(native, windows, special);
}

INSTANTIATE_TEST_SUITE_P(EveryKernelPath, SameBytesOnPath,
                         ::testing::Values("scalar", "sse2", "sse41", "avx2", "avx512"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
