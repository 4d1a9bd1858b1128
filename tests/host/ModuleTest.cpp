// Loading effect modules from files: the accepted one renders, the refused ones say why and
// name the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>

#include <cstdlib>
#endif

#include "FakeEffect.h"
#include "Host/ModuleLoader.h"
#include "Host/OmbrelHost.h"
#include "HostRefusal.h"
#include "OmbrelPiPL.h"

namespace {

// Whether a fake module's code has run in this process since the mark was cleared.
bool fakeModuleStarted() {
#if defined(_WIN32)
    return GetEnvironmentVariableA(kFakeModuleStartedVariable, nullptr, 0) != 0;
#else
    return std::getenv(kFakeModuleStartedVariable) != nullptr;
#endif
}

void clearFakeModuleStarted() {
#if defined(_WIN32)
    SetEnvironmentVariableA(kFakeModuleStartedVariable, nullptr);
#else
    unsetenv(kFakeModuleStartedVariable);
#endif
}

#if defined(_WIN32)
constexpr const char* kNoPiPL = "no PiPL: the PE file has no resource";
#else
constexpr const char* kNoPiPL = "no PiPL: the ELF file has no .pipl section";
#endif

std::string refusal(const std::filesystem::path& path) {
    return OmbrelTest::refusal([&] { OmbrelHost::Module::load(path); }, "(loaded)");
}

TEST(ModuleLoad, ThePlatformsReaderAndTheFileReaderFindTheSamePiPL) {
    const std::vector<std::uint8_t> expected(OmbrelPiPL::kBytes.begin(), OmbrelPiPL::kBytes.end());
    const OmbrelHost::ModuleFile file = OmbrelHost::readModuleFile(FAKE_EFFECT_PATH);
    EXPECT_EQ(file.pipl, expected);
    EXPECT_TRUE(file.loadableHere) << file.platform;
    // On Windows the resource functions of the module mapped as data, elsewhere the ELF reader.
    EXPECT_EQ(OmbrelHost::detail::readPiPL(file), expected);
}

TEST(ModuleLoad, RefusesModulesWithAClearMessageNamingTheFile) {
    const std::filesystem::path missing =
        std::filesystem::path(FAKE_EFFECT_PATH).parent_path() / "no-such-module.so";
    const std::filesystem::path text =
        std::filesystem::temp_directory_path() / "ombrel-host-test-not-a-module.so";
    std::ofstream(text) << "just text\n";
    // 3 GB of nothing: refused from its first bytes, never read whole.
    const std::filesystem::path sparse =
        std::filesystem::temp_directory_path() / "ombrel-host-test-sparse.so";
    std::ofstream(sparse).close();
    std::error_code sparseError;
    std::filesystem::resize_file(sparse, std::uintmax_t{3} << 30, sparseError);
    struct Case {
        std::filesystem::path path;
        const char* reason;
    };
    std::vector<Case> cases = {
        {FAKE_NO_PIPL_PATH, kNoPiPL},
        {FAKE_MISSING_ENTRY_PATH,
         "the entry point \"NoSuchFunction\" named by its PiPL is not exported"},
        {FAKE_MALFORMED_PIPL_PATH, "malformed PiPL: count mismatch"},
        {missing, "no such module file"},
        {text, "not an effect module"},
    };
    if (!sparseError)
        cases.push_back({sparse, "not an effect module"});
#if !defined(_WIN32)
    const std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / "ombrel-host-test-fifo.so";
    std::filesystem::remove(fifo);
    if (::mkfifo(fifo.c_str(), 0600) == 0)
        cases.push_back({fifo, "not a module file: is a FIFO"});
    cases.push_back({"/dev/zero", "not a module file: is a device"});
#endif
    for (const auto& c : cases) {
        const std::string message = refusal(c.path);
        EXPECT_EQ(message.rfind(c.path.string() + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    std::filesystem::remove(text);
    std::filesystem::remove(sparse);
#if !defined(_WIN32)
    std::filesystem::remove(fifo);
#endif
}

TEST(ModuleLoad, AModuleWithoutAUsablePiPLIsRefusedBeforeAnyOfItsCodeRuns) {
    clearFakeModuleStarted();
    for (const char* path : {FAKE_NO_PIPL_PATH, FAKE_MALFORMED_PIPL_PATH}) {
        EXPECT_NE(refusal(path), "(loaded)");
        EXPECT_FALSE(fakeModuleStarted()) << path;
    }
    // The mark itself works: loading a module runs its code.
    EXPECT_NE(OmbrelHost::Module::load(FAKE_EFFECT_PATH).entryPoint(), nullptr);
    EXPECT_TRUE(fakeModuleStarted());
    clearFakeModuleStarted();
}

TEST(ModuleLoad, ABareFileNameIsTheFileInTheCurrentFolder) {
    // Not a name for the loader to look for on its search path: the file whose PiPL was read.
    const std::filesystem::path module(FAKE_EFFECT_PATH);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(module.parent_path());
    std::string failure;
    try {
        const OmbrelHost::Module loaded = OmbrelHost::Module::load(module.filename());
        EXPECT_NE(loaded.entryPoint(), nullptr);
    } catch (const OmbrelHost::HostError& e) {
        failure = e.what();
    }
    std::filesystem::current_path(before);
    EXPECT_EQ(failure, "");
}

TEST(ModuleLoad, LoadedEffectRunsAFrameEndToEnd) {
    OmbrelHost::Host host({.threads = 3});
    OmbrelHost::Module module = OmbrelHost::Module::load(FAKE_EFFECT_PATH);
    EXPECT_EQ(module.pipl().entryPoint, "EntryPointFunc");
    EXPECT_EQ(module.path(), std::filesystem::path(FAKE_EFFECT_PATH));
    OmbrelHost::Effect effect(host, module);
    EXPECT_EQ(effect.globalSetup().err, PF_Err_NONE);
    EXPECT_EQ(effect.paramsSetup().err, PF_Err_NONE);

    OmbrelHost::Image input(5, 3, OmbrelHost::Depth::Bits8);
    for (std::size_t i = 0; i < input.pixels.size(); ++i)
        input.pixels[i] = static_cast<std::uint8_t>(i * 7);
    const OmbrelHost::FrameResult frame = effect.render({.input = &input});
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const PF_Pixel in = input.row<PF_Pixel>(y)[x];
            const PF_Pixel out = frame.output.row<PF_Pixel>(y)[x];
            EXPECT_EQ(out.alpha, in.alpha);
            EXPECT_EQ(out.red, 255 - in.red);
            EXPECT_EQ(out.blue, 255 - in.blue);
        }
    }
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

} // namespace
