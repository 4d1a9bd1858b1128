// A small effect written against the host interface the way a real one is, used to drive the
// simulated host through every callback: global setup registers and keeps a 4-byte handle;
// params setup adds a six-entry popup; pre-render reads the popup into a handle and checks out
// the input; smart render copies the input into a scratch world it creates, then writes the
// output in bands on the host's threads: RGB inverted (alpha kept) for an odd popup value,
// copied for an even one.
//
// Built into the tests (in-process, configurable) and as loadable modules (defaults).
#pragma once

#include <atomic>

#include "HostInterface/EffectInterface.h"

struct FakeEffectConfig {
    A_u_long version = 0x00080601;
    bool leakPreRenderHandle = false; // smart render does not dispose the pre-render handle
    bool leakParam = false;           // pre-render does not check the popup back in
    bool leakWorld = false;           // the scratch world is not disposed
    bool leakSuite = false;           // one suite acquired and never released
    bool useDeleteFunc = false;       // pre-render data freed by a deletion function instead
    bool forgetDeleteFunc = false;    // with useDeleteFunc: the data is handed over without it
    bool writeInput = false;          // scribbles on the input world
    bool writePastRow = false;        // writes one pixel past the end of the output's row 0
    bool throwInRender = false;       // lets an exception out of the entry point
    bool skipRender = false;          // smart render returns at once, writing nothing
    A_long checkoutPixelsId = 0;      // the id smart render asks checkout_layer_pixels for

    std::atomic<int> lastPopup{0}; // popup value the last pre-render read
    std::atomic<int> deletions{0}; // calls of the deletion function
    std::atomic<int> renders{0};   // smart renders that wrote the output
};

// The in-process effect's configuration (reset between tests with resetFakeEffect).
FakeEffectConfig& fakeEffect();
void resetFakeEffect();

// Set to "1" in the process environment when a loadable fake module's code first runs.
inline constexpr char kFakeModuleStartedVariable[] = "OMBREL_FAKE_MODULE_STARTED";

extern "C" PF_Err FakeEffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                 PF_ParamDef* params[], PF_LayerDef* output, void* extra);
