// The host's C callbacks as an effect meets them through its records: suites, handles, worlds,
// parameters, copy and the text helpers, with their counts and the misuse they record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Host/CommandRecords.h"
#include "Host/OmbrelHost.h"

namespace {

using OmbrelHost::CommandRecords;
using OmbrelHost::Depth;
using OmbrelHost::Host;
using OmbrelHost::Image;

template <class T>
const T* acquire(PF_InData* in, const char* name, A_long version, SPErr* err = nullptr) {
    const void* suite = reinterpret_cast<const void*>(0x1); // must be overwritten
    const SPErr e = in->pica_basicP->AcquireSuite(name, version, &suite);
    if (err != nullptr)
        *err = e;
    return static_cast<const T*>(suite);
}

bool misuseMentions(const Host& host, const std::string& text) {
    for (const std::string& m : host.held().misuse) {
        if (m.find(text) != std::string::npos)
            return true;
    }
    return false;
}

TEST(Host, OnlyOneHostAtATime) {
    EXPECT_THROW(Host({.threads = -1}), OmbrelHost::HostError);
    {
        Host host;
        EXPECT_THROW(Host second, OmbrelHost::HostError);
        EXPECT_GE(host.threads(), 1);
    }
    Host again({.threads = 2}); // the slot is free once the first is gone
    EXPECT_EQ(again.threads(), 2);
}

TEST(BasicSuite, CountsAcquireAndReleasePerNameAndVersion) {
    Host host;
    CommandRecords records(host);
    PF_InData* in = records.inData();
    ASSERT_NE(acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2), nullptr);
    ASSERT_NE(acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2), nullptr);
    ASSERT_NE(acquire<PF_WorldSuite1>(in, kPFWorldSuite, 1), nullptr);
    EXPECT_EQ(in->pica_basicP->ReleaseSuite(kPFWorldSuite, 2), kSPNoError);

    OmbrelHost::HeldResources held = host.held();
    EXPECT_EQ((held.suites[{kPFWorldSuite, 2}]), 1);
    EXPECT_EQ((held.suites[{kPFWorldSuite, 1}]), 1);
    EXPECT_EQ(held.describe(), "suite \"PF World Suite\" v1 acquired 1 time(s) more than released\n"
                               "suite \"PF World Suite\" v2 acquired 1 time(s) more than released");
    EXPECT_EQ((host.suiteCounts()[{kPFWorldSuite, 2}].acquired), 2);

    in->pica_basicP->ReleaseSuite(kPFWorldSuite, 2);
    in->pica_basicP->ReleaseSuite(kPFWorldSuite, 1);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
    // One release too many is misuse, not a negative count.
    EXPECT_NE(in->pica_basicP->ReleaseSuite(kPFWorldSuite, 1), kSPNoError);
    EXPECT_NE(in->pica_basicP->ReleaseSuite("PF Nothing Suite", 3), kSPNoError);
    held = host.held();
    EXPECT_TRUE(held.suites.empty());
    EXPECT_TRUE(misuseMentions(host, "ReleaseSuite(\"PF World Suite\", 1) without a matching"));
    EXPECT_TRUE(misuseMentions(host, "ReleaseSuite(\"PF Nothing Suite\", 3)"));
}

TEST(BasicSuite, UnknownRefusedAndFailingSuitesGiveAnErrorAndNoTable) {
    Host host;
    host.faults().refusedSuites.push_back({kPFHandleSuite, 2});
    CommandRecords records(host);
    PF_InData* in = records.inData();
    SPErr err = 0;
    EXPECT_EQ(acquire<void>(in, kPFHandleSuite, 2, &err), nullptr);
    EXPECT_NE(err, 0);
    EXPECT_EQ(acquire<void>(in, kPFHandleSuite, 1, &err), nullptr); // no such version
    EXPECT_NE(err, 0);
    EXPECT_EQ(acquire<void>(in, "AEGP Marker Suite", 1, &err), nullptr);
    EXPECT_NE(err, 0);
    host.faults().failingCallbacks["AcquireSuite"] = 1234;
    EXPECT_EQ(acquire<void>(in, kAEGPUtilitySuite, 7, &err), nullptr);
    EXPECT_EQ(err, 1234);
    EXPECT_TRUE(host.held().empty());
    EXPECT_EQ(host.callCount("AcquireSuite"), 4);
}

TEST(HandleSuite, RegistryCatchesDoubleDisposeAndUnknownHandles) {
    Host host;
    CommandRecords records(host);
    const auto* h = acquire<PF_HandleSuite2>(records.inData(), kPFHandleSuite, 2);
    ASSERT_NE(h, nullptr);
    PF_Handle a = h->host_new_handle(4);
    PF_Handle b = h->host_new_handle(100);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_EQ(h->host_get_handle_size(b), 100u);
    void* p = h->host_lock_handle(a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, *a); // a handle is a master pointer
    std::memcpy(p, "abc", 4);
    h->host_unlock_handle(a);
    EXPECT_EQ(std::memcmp(h->host_lock_handle(a), "abc", 4), 0);
    EXPECT_EQ(host.held().handles, 2);

    h->host_dispose_handle(a);
    h->host_dispose_handle(a); // second time: recorded, not a crash
    void* junk[1] = {nullptr};
    EXPECT_EQ(h->host_lock_handle(junk), nullptr);
    EXPECT_EQ(h->host_get_handle_size(junk), 0u);
    h->host_dispose_handle(nullptr); // like free(NULL)

    const OmbrelHost::HeldResources held = host.held();
    EXPECT_EQ(held.handles, 1);
    EXPECT_TRUE(misuseMentions(host, "host_dispose_handle of an unknown or already disposed"));
    EXPECT_TRUE(misuseMentions(host, "host_lock_handle of an unknown or already disposed"));
    EXPECT_NE(held.describe().find("1 handle still allocated\n"), std::string::npos);
    h->host_dispose_handle(b);
    records.inData()->pica_basicP->ReleaseSuite(kPFHandleSuite, 2);
    EXPECT_EQ(host.held().handles, 0);
}

TEST(HandleSuite, FaultsMakeNewAndLockReturnNull) {
    Host host;
    CommandRecords records(host);
    const auto* h = acquire<PF_HandleSuite2>(records.inData(), kPFHandleSuite, 2);
    host.faults().nullNewHandle = true;
    EXPECT_EQ(h->host_new_handle(4), nullptr);
    host.faults().nullNewHandle = false;
    PF_Handle a = h->host_new_handle(4);
    host.faults().nullLockHandle = true;
    EXPECT_EQ(h->host_lock_handle(a), nullptr);
    host.faults().nullLockHandle = false;
    h->host_dispose_handle(a);
    EXPECT_EQ(host.callCount("host_new_handle"), 2);
    EXPECT_EQ(host.callCount("host_lock_handle"), 1);
    EXPECT_EQ(host.held().handles, 0);
}

// A handle kept locked, or disposed of while locked, is a fault of the effect's: the real host
// frees the memory under the pointer the lock gave.
TEST(HandleSuite, LocksAreCountedAndDisposingALockedHandleIsMisuse) {
    Host host;
    CommandRecords records(host);
    const auto* h = acquire<PF_HandleSuite2>(records.inData(), kPFHandleSuite, 2);
    PF_Handle a = h->host_new_handle(4);
    PF_Handle b = h->host_new_handle(4);
    h->host_lock_handle(a);
    h->host_lock_handle(a);
    h->host_lock_handle(b);
    EXPECT_EQ(host.held().lockedHandles, 2);
    h->host_unlock_handle(a);
    h->host_unlock_handle(b);
    EXPECT_EQ(host.held().lockedHandles, 1) << "a is locked twice, unlocked once";
    EXPECT_TRUE(host.held().misuse.empty()) << host.held().describe();
    EXPECT_NE(host.held().describe().find("1 handle still locked"), std::string::npos);
    h->host_unlock_handle(b);
    EXPECT_TRUE(misuseMentions(host, "host_unlock_handle of a handle that is not locked"));
    h->host_dispose_handle(a);
    EXPECT_TRUE(misuseMentions(host, "host_dispose_handle of a locked handle"));
    h->host_dispose_handle(b);
    records.inData()->pica_basicP->ReleaseSuite(kPFHandleSuite, 2);
    EXPECT_EQ(host.held().handles, 0);
    EXPECT_EQ(host.held().lockedHandles, 0);
}

// A failed give-back still gives back; refused suites can answer with any code, or with success
// and no table.
TEST(Faults, GiveBacksThatFailStillGiveBackAndRefusalsTakeAnyCode) {
    Host host;
    CommandRecords records(host);
    PF_InData* in = records.inData();
    host.faults().failingCallbacks["ReleaseSuite"] = 77;
    host.faults().failingCallbacks["checkin_param"] = 78;
    ASSERT_NE(acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2), nullptr);
    EXPECT_EQ(in->pica_basicP->ReleaseSuite(kPFWorldSuite, 2), 77);
    PF_ParamDef param{};
    ASSERT_EQ(in->inter.checkout_param(in->effect_ref, 1, 0, 1, 1, &param), PF_Err_NONE);
    EXPECT_EQ(in->inter.checkin_param(in->effect_ref, &param), 78);
    EXPECT_TRUE(host.held().empty()) << host.held().describe();

    host.faults() = {};
    host.faults().refusedSuites = {{kPFWorldSuite, 1}};
    for (SPErr code : {SPErr{4}, SPErr{-1}, SPErr{kSPNoError}}) {
        host.faults().refusedSuiteError = code;
        SPErr err = 12345;
        EXPECT_EQ(acquire<void>(in, kPFWorldSuite, 1, &err), nullptr);
        EXPECT_EQ(err, code);
    }
    EXPECT_TRUE(host.held().empty()) << host.held().describe();
}

TEST(UtilityAndIterateSuites, RegisterAndThreadCount) {
    Host host({.threads = 3});
    CommandRecords records(host);
    PF_InData* in = records.inData();
    const auto* u = acquire<AEGP_UtilitySuite7>(in, kAEGPUtilitySuite, 7);
    AEGP_PluginID first = 0, second = 0;
    EXPECT_EQ(u->AEGP_RegisterWithAEGP(nullptr, "Error!", &first), PF_Err_NONE);
    EXPECT_EQ(u->AEGP_RegisterWithAEGP(nullptr, "Other", &second), PF_Err_NONE);
    EXPECT_NE(first, second);
    EXPECT_EQ(host.registeredNames(), (std::vector<std::string>{"Error!", "Other"}));
    EXPECT_EQ(u->AEGP_RegisterWithAEGP(nullptr, "x", nullptr), PF_Err_BAD_CALLBACK_PARAM);

    const auto* t = acquire<AEGP_IterateSuite1>(in, kAEGPIterateSuite, 1);
    A_long n = 0;
    EXPECT_EQ(t->AEGP_GetNumThreads(&n), PF_Err_NONE);
    EXPECT_EQ(n, 3);
    host.faults().reportedThreads = 0;
    EXPECT_EQ(t->AEGP_GetNumThreads(&n), PF_Err_NONE);
    EXPECT_EQ(n, 0);
    host.faults().failingCallbacks["AEGP_GetNumThreads"] = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(t->AEGP_GetNumThreads(&n), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host.callCount("AEGP_GetNumThreads"), 3);

    // The Iterate8 slots this host does not provide are stand-ins that answer with an error.
    const auto* it = acquire<PF_Iterate8Suite1>(in, kPFIterate8Suite, 1);
    for (PF_UnusedSuiteFunc slot : it->unused_iterate) {
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(reinterpret_cast<PF_Err (*)()>(slot)(), PF_Err_BAD_CALLBACK_PARAM);
    }
}

TEST(WorldSuites, CreateReportFormatAndDispose) {
    Host host;
    CommandRecords records(host, {.outputSize = std::pair{2, 2}, .outputRowPadding = 16});
    PF_InData* in = records.inData();
    PF_ProgPtr ref = in->effect_ref;
    const auto* w1 = acquire<PF_WorldSuite1>(in, kPFWorldSuite, 1);
    const auto* w2 = acquire<PF_WorldSuite2>(in, kPFWorldSuite, 2);
    PF_EffectWorld a{}, b{}, c{};
    ASSERT_EQ(w1->new_world(ref, 3, 2, PF_NewWorldFlag_CLEAR_PIXELS, &a), PF_Err_NONE);
    ASSERT_EQ(w1->new_world(ref, 3, 2, PF_NewWorldFlag_DEEP_PIXELS, &b), PF_Err_NONE);
    ASSERT_EQ(w2->PF_NewWorld(ref, 3, 2, 1, PF_PixelFormat_ARGB128, &c), PF_Err_NONE);
    const struct {
        PF_EffectWorld* world;
        PF_PixelFormat format;
        A_long pixelBytes;
        std::uint8_t fill;
    } expected[] = {{&a, PF_PixelFormat_ARGB32, 4, 0},
                    {&b, PF_PixelFormat_ARGB64, 8, OmbrelHost::kUntouchedByte},
                    {&c, PF_PixelFormat_ARGB128, 16, 0}};
    for (const auto& e : expected) {
        PF_PixelFormat format = 0;
        EXPECT_EQ(w2->PF_GetPixelFormat(e.world, &format), PF_Err_NONE);
        EXPECT_EQ(format, e.format);
        // Created worlds carry the frame's row padding and start on a cache line.
        EXPECT_EQ(e.world->rowbytes, 3 * e.pixelBytes + 16);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(e.world->data) % 64, 0u);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(e.world->data);
        EXPECT_EQ(bytes[e.world->rowbytes + 3 * e.pixelBytes - 1], e.fill);
    }
    EXPECT_EQ(host.held().createdWorlds, 3);
    host.faults().reportedPixelFormat = PF_PixelFormat_BGRA128;
    PF_PixelFormat format = 0;
    EXPECT_EQ(w2->PF_GetPixelFormat(&a, &format), PF_Err_NONE);
    EXPECT_EQ(format, PF_PixelFormat_BGRA128);
    host.faults().reportedPixelFormat.reset();

    PF_EffectWorld copyOfA = a;
    EXPECT_EQ(w1->dispose_world(ref, &a), PF_Err_NONE);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(w1->dispose_world(ref, &copyOfA), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w2->PF_DisposeWorld(ref, records.outputWorld()), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w2->PF_GetPixelFormat(&copyOfA, &format), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w2->PF_NewWorld(ref, 1, 1, 0, PF_PixelFormat_INVALID, &a), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w1->new_world(nullptr, 1, 1, 0, &a), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(w2->PF_DisposeWorld(ref, &b), PF_Err_NONE); // suite 2 disposes suite 1's world
    EXPECT_EQ(host.held().createdWorlds, 1);
    EXPECT_TRUE(misuseMentions(host, "dispose_world of a world the effect did not create"));
    EXPECT_TRUE(misuseMentions(host, "PF_DisposeWorld of a world the effect did not create"));
    EXPECT_TRUE(misuseMentions(host, "new_world called with a null effect_ref"));

    // A write past the end of a row lands in padding the host checks at disposal.
    reinterpret_cast<std::uint8_t*>(c.data)[3 * 16] = 0;
    EXPECT_EQ(w2->PF_DisposeWorld(ref, &c), PF_Err_NONE);
    EXPECT_TRUE(misuseMentions(host, "wrote outside the pixels of a world it created"));
}

TEST(UtilityCallbacks, CopyHonoursBothRowStrides) {
    Host host;
    Image input(3, 4, Depth::Bits16);
    for (std::size_t i = 0; i < input.pixels.size(); ++i)
        input.pixels[i] = static_cast<std::uint8_t>(i + 1);
    CommandRecords records(host, {.input = &input, .inputRowPadding = 8, .outputRowPadding = 24});
    PF_InData* in = records.inData();
    ASSERT_EQ(records.inputWorld()->rowbytes, 3 * 8 + 8);
    ASSERT_EQ(records.outputWorld()->rowbytes, 3 * 8 + 24);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(records.inputWorld()->data) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(records.outputWorld()->data) % 64, 0u);
    EXPECT_EQ(in->utils->copy(in->effect_ref, records.inputWorld(), records.outputWorld(), nullptr,
                              nullptr),
              PF_Err_NONE);
    EXPECT_EQ(records.output(), input);
    EXPECT_TRUE(records.outputOutsideIntact());

    // Part of a world onto another place.
    PF_LRect from{1, 1, 3, 3}, to{0, 2, 2, 4};
    EXPECT_EQ(
        in->utils->copy(in->effect_ref, records.inputWorld(), records.outputWorld(), &from, &to),
        PF_Err_NONE);
    const Image out = records.output();
    EXPECT_EQ(
        std::memcmp(&out.row<PF_Pixel16>(3)[1], &input.row<PF_Pixel16>(2)[2], sizeof(PF_Pixel16)),
        0);

    CommandRecords small(host, {.outputSize = std::pair{2, 4}, .depth = Depth::Bits16});
    EXPECT_EQ(in->utils->copy(in->effect_ref, records.inputWorld(), small.outputWorld(), nullptr,
                              nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    CommandRecords eightBit(host, {.outputSize = std::pair{3, 4}});
    EXPECT_EQ(in->utils->copy(in->effect_ref, records.inputWorld(), eightBit.outputWorld(), nullptr,
                              nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
}

TEST(UtilityCallbacks, SprintfStopsAtTheMessageSize) {
    Host host;
    CommandRecords records(host);
    PF_InData* in = records.inData();
    char buffer[300];
    std::memset(buffer, 'Z', sizeof buffer);
    const std::string longText(400, 'x');
    const int n = in->utils->ansi.sprintf(buffer, "%s!", longText.c_str());
    EXPECT_EQ(n, 401); // what it would have written, as vsnprintf says
    EXPECT_EQ(std::strlen(buffer), 255u);
    EXPECT_EQ(buffer[256], 'Z');
    in->utils->ansi.sprintf(records.outData()->return_msg, "%s, v%d.%d%d\r%s", "Name", 1, 0, 0,
                            "credit");
    EXPECT_EQ(records.message(), "Name, v1.00\rcredit");
    char name[32];
    EXPECT_EQ(in->utils->ansi.strcpy(name, "From"), name);
    EXPECT_STREQ(name, "From");
}

PF_ParamDef popupDef(const char* names, A_short choices) {
    PF_ParamDef def{};
    def.param_type = PF_Param_POPUP;
    std::strcpy(def.name, "From");
    def.uu.id = 1;
    def.u.pd.num_choices = choices;
    def.u.pd.dephault = 1;
    def.u.pd.value = 1;
    def.u.pd.u.namesptr = names;
    return def;
}

TEST(InteractCallbacks, ParametersAndTheirCheckouts) {
    Host host;
    Image input(4, 2, Depth::Bits32);
    CommandRecords records(host, {.input = &input});
    PF_InData* in = records.inData();
    PF_ParamDef bad = popupDef("A|B", 3);
    EXPECT_EQ(in->inter.add_param(in->effect_ref, -1, &bad), PF_Err_BAD_CALLBACK_PARAM);
    {
        char names[] = "A|B|C";
        PF_ParamDef def = popupDef(names, 3);
        EXPECT_EQ(in->inter.add_param(in->effect_ref, 0, &def), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(in->inter.add_param(in->effect_ref, -1, &def), PF_Err_NONE);
        std::strcpy(names, "X|Y|Z"); // the host keeps its own copy of the names
    }
    ASSERT_EQ(records.params().size(), 1u);
    EXPECT_STREQ(records.params()[0].def.u.pd.u.namesptr, "A|B|C");
    EXPECT_TRUE(misuseMentions(host, "names do not match its number of choices"));

    PF_ParamDef layer{}, popup{}, popupAgain{};
    ASSERT_EQ(in->inter.checkout_param(in->effect_ref, 0, 0, 1, 1, &layer), PF_Err_NONE);
    EXPECT_EQ(layer.param_type, PF_Param_LAYER);
    EXPECT_EQ(layer.u.ld.data, records.inputWorld()->data);
    EXPECT_EQ(layer.u.ld.width, 4);
    records.setPopup(3, {0, 1});
    ASSERT_EQ(in->inter.checkout_param(in->effect_ref, 1, 5, 1, 10, &popup), PF_Err_NONE);
    EXPECT_EQ(popup.param_type, PF_Param_POPUP);
    EXPECT_EQ(popup.u.pd.value, 3);
    EXPECT_STREQ(popup.u.pd.u.namesptr, "A|B|C");
    ASSERT_EQ(in->inter.checkout_param(in->effect_ref, 1, 0, 1, 1, &popupAgain), PF_Err_NONE);
    PF_ParamDef none{};
    EXPECT_EQ(in->inter.checkout_param(in->effect_ref, 2, 0, 1, 1, &none),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(in->inter.checkout_param(in->effect_ref, 1, 0, 1, 0, &none),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.held().checkedOutParams, 3);

    EXPECT_EQ(in->inter.checkin_param(in->effect_ref, &layer), PF_Err_NONE);
    EXPECT_EQ(in->inter.checkin_param(in->effect_ref, &popup), PF_Err_NONE);
    EXPECT_EQ(in->inter.checkin_param(in->effect_ref, &popup), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(in->inter.checkin_param(in->effect_ref, &none), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.held().checkedOutParams, 1);
    EXPECT_TRUE(misuseMentions(host, "checkin_param of a parameter that is not checked out"));
    EXPECT_NE(host.held().describe().find("1 parameter checked out and not checked in"),
              std::string::npos);

    // Without an input the layer parameter has null data.
    CommandRecords bare(host);
    PF_ParamDef empty{};
    ASSERT_EQ(bare.inData()->inter.checkout_param(bare.effectRef(), 0, 0, 1, 1, &empty),
              PF_Err_NONE);
    EXPECT_EQ(empty.u.ld.data, nullptr);
    bare.inData()->inter.checkin_param(bare.effectRef(), &empty);
    in->inter.checkin_param(in->effect_ref, &popupAgain);
}

TEST(RenderCallbacks, LayerCheckoutsFollowPreRender) {
    Host host;
    Image input(6, 3, Depth::Bits8);
    CommandRecords records(host, {.input = &input, .checkoutInput = false});
    PF_InData* in = records.inData();
    PF_PreRenderExtra* pre = records.preRenderExtra();
    PF_SmartRenderExtra* smart = records.smartRenderExtra();
    PF_EffectWorld* world = reinterpret_cast<PF_EffectWorld*>(0x1);
    EXPECT_EQ(smart->cb->checkout_layer_pixels(in->effect_ref, 0, &world),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(world, nullptr);

    PF_RenderRequest request{};
    request.rect = PF_LRect{1, 1, 2, 2};
    PF_CheckoutResult result{};
    EXPECT_EQ(pre->cb->checkout_layer(in->effect_ref, 1, 0, &request, 0, 1, 1, &result),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_FALSE(records.layerRequest(7));
    ASSERT_EQ(pre->cb->checkout_layer(in->effect_ref, 0, 7, &request, 0, 1, 1, &result),
              PF_Err_NONE);
    ASSERT_TRUE(records.layerRequest(7));
    EXPECT_EQ(records.layerRequest(7)->rect.right, 2);
    // The result is what the layer has of the request; its maximum the whole layer.
    EXPECT_EQ(result.result_rect.left, 1);
    EXPECT_EQ(result.result_rect.right, 2);
    EXPECT_EQ(result.result_rect.bottom, 2);
    EXPECT_EQ(result.max_result_rect.right, 6);
    EXPECT_EQ(result.max_result_rect.bottom, 3);
    request.rect = PF_LRect{7, 0, 9, 2}; // wholly outside: an empty result
    ASSERT_EQ(pre->cb->checkout_layer(in->effect_ref, 0, 8, &request, 0, 1, 1, &result),
              PF_Err_NONE);
    EXPECT_EQ(result.result_rect.right - result.result_rect.left, 0);
    EXPECT_EQ(result.max_result_rect.right, 6);
    EXPECT_EQ(smart->cb->checkout_layer_pixels(in->effect_ref, 0, &world),
              PF_Err_BAD_CALLBACK_PARAM);
    ASSERT_EQ(smart->cb->checkout_layer_pixels(in->effect_ref, 7, &world), PF_Err_NONE);
    EXPECT_EQ(world, records.inputWorld());
    EXPECT_EQ(host.held().checkedOutLayers, 1);
    EXPECT_EQ(smart->cb->checkin_layer_pixels(in->effect_ref, 7), PF_Err_NONE);
    EXPECT_EQ(smart->cb->checkin_layer_pixels(in->effect_ref, 7), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.held().checkedOutLayers, 0);

    PF_EffectWorld* output = nullptr;
    ASSERT_EQ(smart->cb->checkout_output(in->effect_ref, &output), PF_Err_NONE);
    EXPECT_EQ(output->width, 6);
    host.faults().nullOutputWorld = true;
    host.faults().nullInputWorld = true;
    EXPECT_EQ(smart->cb->checkout_output(in->effect_ref, &output), PF_Err_NONE);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(smart->cb->checkout_layer_pixels(in->effect_ref, 7, &world), PF_Err_NONE);
    EXPECT_EQ(world, nullptr);
    host.faults().failingCallbacks["checkout_output"] = 77;
    EXPECT_EQ(smart->cb->checkout_output(in->effect_ref, &output), 77);
}

TEST(RenderCallbacks, StaleEffectRefIsRefused) {
    Host host;
    PF_ProgPtr stale = nullptr;
    PF_InteractCallbacks inter{};
    {
        CommandRecords records(host);
        stale = records.effectRef();
        inter = records.inData()->inter;
    }
    PF_ParamDef def{};
    EXPECT_EQ(inter.checkout_param(stale, 1, 0, 1, 1, &def), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(misuseMentions(host, "checkout_param called with an effect_ref of no command"));
}

} // namespace
