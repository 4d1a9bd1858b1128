// Loading effect modules from files: the accepted one renders, the refused ones say why and
// name the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Host/OmbrelHost.h"
#include "OmbrelPiPL.h"

namespace {

std::string refusal(const std::filesystem::path& path) {
    try {
        OmbrelHost::Module::load(path);
    } catch (const OmbrelHost::HostError& e) {
        return e.what();
    }
    return "(loaded)";
}

TEST(ModuleLoad, ReadsThePiPLSectionOfABuiltModule) {
    const std::vector<std::uint8_t> bytes = OmbrelHost::readModulePiPL(FAKE_EFFECT_PATH);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), OmbrelPiPL::kBytes.begin(),
                           OmbrelPiPL::kBytes.end()));
}

TEST(ModuleLoad, RefusesModulesWithAClearMessageNamingTheFile) {
    const std::filesystem::path missing =
        std::filesystem::path(FAKE_EFFECT_PATH).parent_path() / "no-such-module.so";
    const std::filesystem::path text =
        std::filesystem::temp_directory_path() / "ombrel-host-test-not-a-module.so";
    std::ofstream(text) << "just text\n";
    const struct {
        std::filesystem::path path;
        const char* reason;
    } cases[] = {
        {FAKE_NO_PIPL_PATH, "no PiPL: the ELF file has no .pipl section"},
        {FAKE_MISSING_ENTRY_PATH,
         "the entry point \"NoSuchFunction\" named by its PiPL is not exported"},
        {FAKE_MALFORMED_PIPL_PATH, "malformed PiPL: count mismatch"},
        {missing, "no such module file"},
        {text, "not an effect module"},
    };
    for (const auto& c : cases) {
        const std::string message = refusal(c.path);
        EXPECT_EQ(message.rfind(c.path.string() + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    std::filesystem::remove(text);
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
