// Every allocation made during a command may fail: the command must then end with
// PF_Err_OUT_OF_MEMORY (the host's callbacks answer their own allocation failures with it too),
// never with an exception into the host or another code, and leave no host resource held. The
// one other answer is global setup's PF_Err_INTERNAL_STRUCT_DAMAGED when the host could not
// make the global handle.
#include <gtest/gtest.h>

#include "FailingAllocator.h"
#include "Host/OmbrelHost.h"
#include "OmbrelPiPL.h"
#include "OmbrelPlugin.h"

namespace {

using namespace OmbrelHost;
using OmbrelTest::allocationFailures;

// The effect's entry point with allocation failures armed for the duration of the call; the
// count starts again at every command.
PF_Err ArmedEntryPoint(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                       PF_LayerDef* output, void* extra) {
    allocationFailures.count = 0;
    allocationFailures.armed = true;
    const PF_Err err = EntryPointFunc(cmd, in_data, out_data, params, output, extra);
    allocationFailures.armed = false;
    return err;
}

Module armedModule() {
    return Module::fromEntryPoint(&ArmedEntryPoint, decodePiPL(OmbrelPiPL::kBytes));
}

Module plainModule() {
    return Module::fromEntryPoint(&EntryPointFunc, decodePiPL(OmbrelPiPL::kBytes));
}

TEST(AllocationFaults, SetupCommandsFailCleanly) {
    long& failAt = allocationFailures.failAt;
    for (failAt = 0;; ++failAt) {
        Host host(HostOptions{1});
        long made = 0;
        {
            Effect effect(host, armedModule());
            const CommandResult setup = effect.globalSetup();
            made = allocationFailures.count;
            if (setup.err != PF_Err_NONE) {
                EXPECT_EQ(setup.out.global_data, nullptr);
                const bool noHandle = host.callCount("host_new_handle") == 1 &&
                                      host.callCount("host_lock_handle") == 0;
                EXPECT_EQ(setup.err,
                          noHandle ? PF_Err_INTERNAL_STRUCT_DAMAGED : PF_Err_OUT_OF_MEMORY)
                    << "allocation " << failAt;
            }
            effect.globalSetdown();
        }
        EXPECT_TRUE(host.held().empty()) << "allocation " << failAt << "\n"
                                         << host.held().describe();
        if (failAt >= made)
            break; // the command made fewer allocations than that: each one has been failed
    }
    EXPECT_GT(failAt, 0);
}

TEST(AllocationFaults, FramesFailCleanly) {
    Image input(6, 5, Depth::Bits16);
    for (std::size_t i = 0; i < input.pixels.size(); i += 2)
        input.pixels[i] = static_cast<std::uint8_t>(i * 13);
    FrameRequest request;
    request.input = &input;

    Image expected;
    {
        Host host(HostOptions{2});
        Effect effect(host, plainModule());
        effect.setPopup(3);
        expected = effect.render(request).output;
    }
    long& failAt = allocationFailures.failAt;
    int failures = 0;
    for (failAt = 0; failAt < 1000; ++failAt) {
        Host host(HostOptions{2});
        Effect effect(host, plainModule());
        ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
        Effect armedEffect(host, armedModule());
        armedEffect.setPopup(3);
        const FrameResult r = armedEffect.render(request);
        const long made = allocationFailures.count;
        if (r.err() == PF_Err_NONE) {
            EXPECT_TRUE(r.output == expected) << "allocation " << failAt;
        } else {
            EXPECT_EQ(r.err(), PF_Err_OUT_OF_MEMORY) << "allocation " << failAt;
            ++failures;
        }
        effect.globalSetdown();
        EXPECT_TRUE(host.held().empty()) << "allocation " << failAt << "\n"
                                         << host.held().describe();
        if (failAt >= made)
            break;
    }
    EXPECT_GT(failures, 0);
}

// The effect's entry point with its allocations counted, and a host that reports the ones not
// freed yet.
PF_Err CountedEntryPoint(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                         PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    OmbrelTest::countingAllocations = true;
    const PF_Err err = EntryPointFunc(cmd, in_data, out_data, params, output, extra);
    OmbrelTest::countingAllocations = false;
    return err;
}

long liveEffectBlocks() {
    return OmbrelTest::countedBlocksLive.load();
}

// What the effect allocates it frees: pre-render data through its deletion function once the
// host is done with the frame, rendered once, twice or not at all.
TEST(AllocationFaults, FramesGiveBackTheEffectsMemory) {
    Image input(5, 3, Depth::Bits8);
    OmbrelTest::uncountedNow = &inHostCallback; // the host's own allocations in its callbacks
    Host host(HostOptions{2, &liveEffectBlocks});
    Effect effect(host, Module::fromEntryPoint(&CountedEntryPoint, decodePiPL(OmbrelPiPL::kBytes)));
    ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
    for (int renders : {1, 0, 2}) {
        FrameRequest request;
        request.input = &input;
        request.smartRenders = renders;
        ASSERT_EQ(effect.render(request).err(), PF_Err_NONE);
        const HeldResources held = host.held();
        EXPECT_EQ(held.effectAllocations, 0) << renders << " smart renders\n" << held.describe();
    }
    effect.globalSetdown();
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
    OmbrelTest::uncountedNow = nullptr;
}

} // namespace
