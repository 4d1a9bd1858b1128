// The effect module as the host sees it: loaded from its file, its PiPL read before loading, and
// the setup commands answered through the entry point.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Host/OmbrelHost.h"

using namespace OmbrelHost;

namespace {

const char kEntries[] = "RGB to YUV|YUV to RGB|RGB to HLS|HLS to RGB|RGB to HSB|HSB to RGB";

class SetupCommands : public ::testing::Test {
protected:
    SetupCommands() : module(Module::load(OMBREL_MODULE_PATH)) {}
    ~SetupCommands() override {
        if (expectClean) {
            EXPECT_TRUE(host.held().empty()) << host.held().describe();
        }
    }

    Host host{HostOptions{2}};
    Module module;
    bool expectClean = true;
};

// ---- PiPL ---------------------------------------------------------------------------------

// The resource bytes written out from the property table, independently of the effect's encoder.
std::vector<std::uint8_t> expectedPiPL() {
    std::vector<std::uint8_t> b;
    auto u16 = [&](unsigned v) {
        b.push_back(v & 0xFF);
        b.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto code = [&](const char* c) { // stored as an integer: bytes reversed
        for (int i = 3; i >= 0; --i)
            b.push_back(static_cast<std::uint8_t>(c[i]));
    };
    auto property = [&](const char* key, std::vector<std::uint8_t> data) {
        code("8BIM");
        code(key);
        u32(0);
        u32(static_cast<std::uint32_t>(data.size()));
        for (std::uint8_t byte : data)
            b.push_back(byte);
        while (b.size() % 4 != 2) // the 10-byte header leaves properties at 2 mod 4
            b.push_back(0);
    };
    auto pascal = [](const std::string& s, bool zero) {
        std::vector<std::uint8_t> d;
        d.push_back(static_cast<std::uint8_t>(s.size()));
        for (char c : s)
            d.push_back(static_cast<std::uint8_t>(c));
        if (zero)
            d.push_back(0);
        return d;
    };
    u16(1);
    u32(0);
    u32(12);
    property("kind", {'T', 'K', 'F', 'e'});
    property("name", pascal("OmbrelColorSpaceConversion", true));
    property("catg", pascal("Ombrel", true));
    std::vector<std::uint8_t> entry(16, 0);
    std::memcpy(entry.data(), "EntryPointFunc", 14);
    property("8664", entry);
    property("ePVR", {2, 0, 0, 0});
    property("eSVR", {13, 0, 0, 0});
    property("eVER", {0x01, 0x06, 0x08, 0x00});
    property("eINF", {0, 0});
    property("eGLO", {0x00, 0x00, 0x00, 0x02});
    property("eGL2", {0x00, 0x14, 0x00, 0x00});
    property("eMNA", pascal("OmbrelColorSpaceConversion", false));
    property("aeFL", {8, 0, 0, 0});
    return b;
}

TEST_F(SetupCommands, ModuleCarriesTheExactPiPL) {
    const std::vector<std::uint8_t> bytes = readModulePiPL(OMBREL_MODULE_PATH);
    EXPECT_EQ(bytes.size(), 314u);
    EXPECT_EQ(bytes, expectedPiPL());

    const PiPL& pipl = module.pipl();
    ASSERT_EQ(pipl.properties.size(), 12u);
    const char* keys[] = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                          "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(pipl.properties[i].key, keys[i]);
        EXPECT_EQ(pipl.properties[i].vendor, "8BIM");
    }
    EXPECT_EQ(pipl.kind, "eFKT");
    EXPECT_EQ(pipl.name, "OmbrelColorSpaceConversion");
    EXPECT_EQ(pipl.matchName, "OmbrelColorSpaceConversion");
    EXPECT_EQ(pipl.category, "Ombrel");
    EXPECT_EQ(pipl.entryPoint, "EntryPointFunc");
    EXPECT_EQ(pipl.version, 0x00080601u);
    EXPECT_EQ(pipl.outFlags, 0x02000000u);
    EXPECT_EQ(pipl.outFlags2, 0x00001400u);
}

// ---- Commands -----------------------------------------------------------------------------

TEST_F(SetupCommands, AboutText) {
    Effect effect(host, module);
    const CommandResult about = effect.about();
    EXPECT_EQ(about.err, PF_Err_NONE);
    const std::string head = "OmbrelColorSpaceConversion, v1.00\r";
    ASSERT_GT(about.message.size(), head.size());
    EXPECT_EQ(about.message.substr(0, head.size()), head);
    const std::string credit = about.message.substr(head.size());
    EXPECT_EQ(credit.find_first_of("\r\n"), std::string::npos);
}

TEST_F(SetupCommands, GlobalSetupReportsVersionFlagsAndRegisters) {
    host.faults().presetOutFlags = 0x4;
    host.faults().presetOutFlags2 = 0x1;
    Effect effect(host, module);
    const CommandResult setup = effect.globalSetup(); // throws if it disagrees with the PiPL
    EXPECT_EQ(setup.err, PF_Err_NONE);
    EXPECT_EQ(setup.out.my_version, 0x00080601u);
    EXPECT_EQ(setup.out.out_flags, 0x02000000 | 0x4);
    EXPECT_EQ(setup.out.out_flags2, 0x00001400 | 0x1);
    EXPECT_NE(setup.out.global_data, nullptr);
    EXPECT_EQ(host.registeredNames(), std::vector<std::string>{"Error!"});
    EXPECT_EQ(host.held().handles, 1);

    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
    EXPECT_EQ(host.held().handles, 0);
}

TEST_F(SetupCommands, ParamsSetupAddsTheFromPopup) {
    Effect effect(host, module);
    const CommandResult setup = effect.paramsSetup();
    EXPECT_EQ(setup.err, PF_Err_NONE);
    EXPECT_EQ(setup.out.num_params, 2);
    const auto params = effect.params();
    ASSERT_EQ(params.size(), 1u);
    PF_ParamDef def = params[0].def;
    EXPECT_EQ(def.param_type, PF_Param_POPUP);
    EXPECT_STREQ(def.name, "From");
    EXPECT_EQ(def.uu.id, 1);
    EXPECT_EQ(def.u.pd.num_choices, 6);
    EXPECT_EQ(def.u.pd.dephault, 1);
    EXPECT_EQ(def.u.pd.value, 1);
    EXPECT_EQ(params[0].popupNames, kEntries);
    EXPECT_EQ(def.ui_flags, 0);
    EXPECT_EQ(def.ui_width, 0);
    EXPECT_EQ(def.ui_height, 0);
    EXPECT_EQ(def.flags, 0);
    EXPECT_EQ(def.unused, 0);
    // Every byte of the name past its terminator is zero.
    for (std::size_t i = std::strlen(def.name); i < sizeof(def.name); ++i)
        EXPECT_EQ(def.name[i], 0);
}

TEST_F(SetupCommands, UnhandledCommandsTouchNothing) {
    host.faults().presetOutFlags = 0x40;
    Effect effect(host, module);
    const CommandResult reference = effect.send(PF_Cmd_ABOUT);
    std::vector<PF_Cmd> commands = {2, 11, 22, 25, 26, 100, -1, 0x7FFFFFFF};
    for (PF_Cmd cmd = 5; cmd <= 21; ++cmd)
        commands.push_back(cmd);
    for (PF_Cmd cmd : commands) {
        const CommandResult r = effect.send(cmd);
        EXPECT_EQ(r.err, PF_Err_NONE) << cmd;
        PF_OutData untouched{};
        untouched.out_flags = 0x40;
        EXPECT_EQ(std::memcmp(&r.out, &untouched, sizeof(PF_OutData)), 0) << "command " << cmd;
    }
    EXPECT_NE(reference.message, "");
    EXPECT_EQ(host.callCount("AcquireSuite"), 0);
}

// ---- Failures -----------------------------------------------------------------------------

TEST_F(SetupCommands, AddParamFailureIsReturnedAndNumParamsKept) {
    host.faults().failingCallbacks["add_param"] = 1234;
    Effect effect(host, module);
    const CommandResult setup = effect.paramsSetup();
    EXPECT_EQ(setup.err, 1234);
    EXPECT_EQ(setup.out.num_params, 0);
}

TEST_F(SetupCommands, RegistrationFailureStoresNothingAndLeaksNothing) {
    host.faults().failingCallbacks["AEGP_RegisterWithAEGP"] = 77;
    Effect effect(host, module);
    const CommandResult setup = effect.globalSetup();
    EXPECT_EQ(setup.err, 77);
    EXPECT_EQ(setup.out.global_data, nullptr);
    EXPECT_EQ(host.held().handles, 0);
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
    EXPECT_EQ(host.callCount("host_dispose_handle"), 1); // the unstored handle, at setup
}

TEST_F(SetupCommands, HandleFailuresInGlobalSetup) {
    {
        host.faults().nullNewHandle = true;
        Effect effect(host, module);
        const CommandResult setup = effect.globalSetup();
        EXPECT_EQ(setup.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(setup.out.my_version, 0x00080601u); // version and flags stay set
        EXPECT_EQ(setup.out.out_flags, 0x02000000);
        EXPECT_EQ(setup.out.global_data, nullptr);
    }
    {
        host.faults().nullNewHandle = false;
        host.faults().nullLockHandle = true;
        Effect effect(host, module);
        const CommandResult setup = effect.globalSetup();
        EXPECT_EQ(setup.err, PF_Err_NONE);
        EXPECT_EQ(setup.out.global_data, nullptr);
        EXPECT_TRUE(host.registeredNames().empty());
        EXPECT_EQ(host.held().handles, 0);
    }
}

TEST_F(SetupCommands, MissingSuitesAre516WithNothingHeld) {
    for (const auto& suite : std::vector<std::pair<std::string, int>>{{"PF Handle Suite", 2},
                                                                      {"AEGP Utility Suite", 7}}) {
        host.faults().refusedSuites = {suite};
        Effect effect(host, module);
        const CommandResult setup = effect.globalSetup();
        EXPECT_EQ(setup.err, PF_Err_BAD_CALLBACK_PARAM) << suite.first;
        EXPECT_EQ(setup.out.global_data, nullptr);
        EXPECT_TRUE(host.held().empty()) << host.held().describe();
    }
}

TEST_F(SetupCommands, SetdownWithoutGlobalDataDoesNothing) {
    Effect effect(host, module);
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
    EXPECT_EQ(host.callCount("AcquireSuite"), 0);
    EXPECT_EQ(host.callCount("host_dispose_handle"), 0);
}

TEST_F(SetupCommands, SetdownWithoutHandleSuiteIs516) {
    Effect effect(host, module);
    ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
    host.faults().refusedSuites = {{"PF Handle Suite", 2}};
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_BAD_CALLBACK_PARAM);
    // Without the suite the global handle cannot be given back.
    EXPECT_EQ(host.held().handles, 1);
    expectClean = false;
}

} // namespace
