// Every allocation made during a command may fail: the command must then end with an error
// (PF_Err_OUT_OF_MEMORY, or a host error the failure caused), never with an exception into the
// host, and leave no host resource held.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "Host/OmbrelHost.h"
#include "OmbrelPiPL.h"
#include "OmbrelPlugin.h"

namespace {

// Allocation number `failAt` (counted from 0) made on this thread while armed throws.
thread_local bool armed = false;
thread_local long allocations = 0;
thread_local long failAt = -1;

void* allocate(std::size_t n) {
    if (armed && allocations++ == failAt)
        throw std::bad_alloc();
    if (void* p = std::malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace OmbrelHost;

// The effect's entry point with allocation failures armed for the duration of the call.
PF_Err ArmedEntryPoint(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                       PF_LayerDef* output, void* extra) {
    allocations = 0;
    armed = true;
    const PF_Err err = EntryPointFunc(cmd, in_data, out_data, params, output, extra);
    armed = false;
    return err;
}

Module armedModule() {
    return Module::fromEntryPoint(&ArmedEntryPoint, decodePiPL(OmbrelPiPL::kBytes));
}

TEST(AllocationFaults, SetupCommandsFailCleanly) {
    for (failAt = 0;; ++failAt) {
        Host host(HostOptions{1});
        {
            Effect effect(host, armedModule());
            const CommandResult setup = effect.globalSetup();
            const long made = allocations;
            if (setup.err != PF_Err_NONE) {
                EXPECT_EQ(setup.out.global_data, nullptr);
            }
            effect.globalSetdown();
            if (failAt >= made)
                break; // the command made fewer allocations than that: all have been failed
        }
        EXPECT_TRUE(host.held().empty()) << "allocation " << failAt << "\n"
                                         << host.held().describe();
    }
    EXPECT_GT(failAt, 0);
}

TEST(AllocationFaults, FramesFailCleanly) {
    Image input(6, 5, Depth::Bits16);
    for (std::size_t i = 0; i < input.pixels.size(); i += 2)
        input.pixels[i] = static_cast<std::uint8_t>(i * 13);
    failAt = -1;
    Image expected;
    {
        Host host(HostOptions{2});
        Effect effect(host, armedModule());
        effect.globalSetup();
        effect.setPopup(3);
        FrameRequest request;
        request.input = &input;
        expected = effect.render(request).output;
        effect.globalSetdown();
    }
    int failures = 0;
    for (failAt = 0; failAt < 1000; ++failAt) {
        Host host(HostOptions{2});
        Effect effect(host,
                      Module::fromEntryPoint(&EntryPointFunc, decodePiPL(OmbrelPiPL::kBytes)));
        ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
        Effect armedEffect(host, armedModule());
        armedEffect.setPopup(3);
        FrameRequest request;
        request.input = &input;
        const FrameResult r = armedEffect.render(request);
        const long made = allocations;
        if (r.err() == PF_Err_NONE) {
            EXPECT_TRUE(r.output == expected) << "allocation " << failAt;
        } else {
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

} // namespace
