// The callbacks that give something back, and iterate_generic, must work when the process is
// out of memory: a release that fails for want of memory would leave the effect holding it.
#include <gtest/gtest.h>

#include "FailingAllocator.h"
#include "Host/CommandRecords.h"
#include "Host/OmbrelHost.h"

namespace {

template <class T>
const T* acquire(PF_InData* in, const char* name, A_long version) {
    const void* suite = nullptr;
    in->pica_basicP->AcquireSuite(name, version, &suite);
    return static_cast<const T*>(suite);
}

TEST(OutOfMemory, GivingBackAndIteratingNeedNoMemory) {
    OmbrelHost::Host host({.threads = 3});
    host.faults().failingCallbacks["checkout_output"] = 5; // a fault list to search, too
    OmbrelHost::CommandRecords records(host);
    PF_InData* in = records.inData();
    const auto* handles = acquire<PF_HandleSuite2>(in, kPFHandleSuite, 2);
    const auto* worlds = acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2);
    const auto* iterate = acquire<PF_Iterate8Suite1>(in, kPFIterate8Suite, 1);
    PF_Handle handle = handles->host_new_handle(4);
    PF_EffectWorld world{};
    ASSERT_EQ(worlds->PF_NewWorld(in->effect_ref, 4, 4, 1, PF_PixelFormat_ARGB32, &world), 0);
    PF_ParamDef param{};
    ASSERT_EQ(in->inter.checkout_param(in->effect_ref, 1, 0, 1, 1, &param), 0);

    // Results are kept and checked afterwards: a failing check allocates its message.
    std::atomic<int> calls{0};
    auto count = [](void* refcon, A_long, A_long, A_long) -> PF_Err {
        ++*static_cast<std::atomic<int>*>(refcon);
        return 0;
    };
    OmbrelTest::allocationFailures.armed = true;
    // Acquiring a suite the host has, and everything that gives back, succeeds.
    const bool acquired = acquire<AEGP_IterateSuite1>(in, kAEGPIterateSuite, 1) != nullptr;
    const SPErr released = in->pica_basicP->ReleaseSuite(kAEGPIterateSuite, 1);
    const bool locked = handles->host_lock_handle(handle) != nullptr;
    handles->host_unlock_handle(handle);
    handles->host_dispose_handle(handle);
    const PF_Err disposed = worlds->PF_DisposeWorld(in->effect_ref, &world);
    const PF_Err checkedIn = in->inter.checkin_param(in->effect_ref, &param);
    const PF_Err iterated = iterate->iterate_generic(7, &calls, count);
    in->pica_basicP->ReleaseSuite(kPFHandleSuite, 2);
    in->pica_basicP->ReleaseSuite(kPFWorldSuite, 2);
    in->pica_basicP->ReleaseSuite(kPFIterate8Suite, 1);
    // Making something new may fail, as an error and not an exception.
    const PF_Handle made = handles->host_new_handle(4);
    OmbrelTest::allocationFailures.armed = false;

    EXPECT_TRUE(acquired);
    EXPECT_EQ(released, kSPNoError);
    EXPECT_TRUE(locked);
    EXPECT_EQ(disposed, PF_Err_NONE);
    EXPECT_EQ(checkedIn, PF_Err_NONE);
    EXPECT_EQ(iterated, PF_Err_NONE);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(calls.load(), 7);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

} // namespace
