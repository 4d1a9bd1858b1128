// Faults the simulated host produces on request, for tests.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HostInterface/EffectInterface.h"
#include "HostInterface/SuiteInterface.h"

namespace OmbrelHost {

// Faults the host can be told to produce, for tests. Change them between commands, not while
// frames are rendering on other threads.
struct Faults {
    std::vector<std::pair<std::string, int>>
        refusedSuites{}; // (name, version) the basic suite refuses
    // What AcquireSuite answers for a refused suite. 0 answers success with a null table.
    SPErr refusedSuiteError = kSPSuiteNotFoundError;
    // Callback name -> error it returns instead of doing its work. Names are the members of the
    // callback records and suite tables: "AcquireSuite", "ReleaseSuite", "AEGP_RegisterWithAEGP",
    // "AEGP_GetNumThreads", "iterate_generic", "new_world", "dispose_world", "PF_NewWorld",
    // "PF_DisposeWorld", "PF_GetPixelFormat", "checkout_param", "checkin_param", "add_param",
    // "copy", "checkout_layer", "checkout_layer_pixels", "checkin_layer_pixels",
    // "checkout_output". The callbacks that give something back (ReleaseSuite, checkin_param,
    // checkin_layer_pixels, dispose_world, PF_DisposeWorld) take it back and then report the
    // error: an effect cannot do anything about a failed give-back, so what stays held is its
    // own doing. Handle callbacks return no code: see nullNewHandle/nullLockHandle.
    std::map<std::string, PF_Err> failingCallbacks{};
    bool nullNewHandle = false;     // host_new_handle returns null
    bool nullLockHandle = false;    // host_lock_handle returns null
    PF_OutFlags presetOutFlags = 0; // bits set in out_flags before a command
    PF_OutFlags2 presetOutFlags2 = 0;
    bool nullInputWorld = false;  // checkout_layer_pixels succeeds with a null world
    bool nullOutputWorld = false; // checkout_output succeeds with a null world
    std::optional<PF_PixelFormat> reportedPixelFormat{}; // what PF_GetPixelFormat says of any world
    // What PF_GetPixelFormat says of a frame's output world alone, and an error it returns for
    // that world alone (0: none); the input's answer stays true.
    std::optional<PF_PixelFormat> reportedOutputPixelFormat{};
    PF_Err outputPixelFormatError = PF_Err_NONE;
    std::optional<A_long> reportedThreads{}; // what AEGP_GetNumThreads says
    // When set, the faults above (all but the preset flags) apply only while the entry point
    // runs this command on the calling thread: a lock that fails in smart render alone, say.
    // Records made with CommandRecords send no command, so such faults never apply to them.
    std::optional<PF_Cmd> onlyDuring{};
};

} // namespace OmbrelHost
