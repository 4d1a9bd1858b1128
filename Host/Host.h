// The simulated host itself: its options, what it counts and what an effect holds of it.
//
// One Host is active in a process at a time: the host's C callbacks (the basic suite and the
// suites behind it) carry no context pointer, so they reach the active Host through a
// process-wide slot that the Host's constructor fills and its destructor clears. Constructing a
// second Host while one is alive throws HostError.
//
// Callbacks that take an effect_ref find the command or frame they belong to through it: the
// effect_ref the host hands out points at a host-side context that lives exactly as long as the
// command. An effect_ref the host does not know (stale or garbage) is refused with
// PF_Err_BAD_CALLBACK_PARAM and recorded as misuse.
//
// No exception ever crosses into the plug-in: every C callback catches everything and answers
// with an error code.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Host/Faults.h"
#include "Host/HostError.h"
#include "HostInterface/EffectInterface.h"

namespace OmbrelHost {

struct HostOptions {
    int threads = 0; // reported by AEGP_GetNumThreads and size of the worker pool; 0: the machine's
    // Blocks of memory the effect allocated and has not freed, as a counting allocator of the
    // embedding program (a test build) tells; held() reports it. Null: not counted.
    long (*effectAllocations)() = nullptr;
};

// True on a thread while it runs one of the host's callbacks: what is allocated then is the
// host's, not the effect's (for the counting allocator behind HostOptions::effectAllocations).
bool inHostCallback();

// Host resources an effect holds at a moment; all zero between frames after global setdown.
struct HeldResources {
    int handles = 0;       // live handles from host_new_handle
    int lockedHandles = 0; // of those, the ones locked more often than unlocked
    // Pre-render data the host still holds for the effect: handed over with a deletion function
    // that has not been called yet, or left without one (which the host cannot free), also by a
    // failed pre-render. Host handles given as pre-render data count under `handles`.
    int preRenderData = 0;
    int checkedOutParams = 0;   // checkout_param without its checkin_param
    int createdWorlds = 0;      // worlds made by new_world/PF_NewWorld and not disposed
    int checkedOutLayers = 0;   // layer pixels of frames still in flight
    long effectAllocations = 0; // the effect's own live memory blocks (HostOptions)
    std::map<std::pair<std::string, int>, int> suites; // (name, version) -> references held
    std::vector<std::string> misuse; // double dispose, release without acquire, ...

    bool empty() const;
    std::string describe() const; // one line per held resource, no trailing newline
};

struct SuiteCount {
    int acquired = 0; // successful AcquireSuite calls
    int released = 0; // ReleaseSuite calls that matched an acquisition
};

// What the effect passed to add_param. `def` is a copy whose popup namesptr points into
// `popupNames`, so it stays valid after the effect's own string is gone.
struct ParamRecord {
    PF_ParamDef def{};
    std::string popupNames;

    ParamRecord() = default;
    ParamRecord(const ParamRecord& other);
    ParamRecord& operator=(const ParamRecord& other);
};

class Host {
public:
    explicit Host(HostOptions options = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int threads() const;
    Faults& faults();
    HeldResources held() const;

    // How often each callback was called (names as in Faults::failingCallbacks, plus
    // "host_new_handle", "host_lock_handle", "host_unlock_handle", "host_dispose_handle",
    // "host_get_handle_size", "sprintf", "strcpy"); 0 for a name never called.
    long callCount(std::string_view callback) const;
    std::map<std::string, long> callCounts() const;
    std::map<std::pair<std::string, int>, SuiteCount> suiteCounts() const;
    // What the effect called, and which suites it acquired, while the entry point ran `command`
    // (command codes 0..31); only names called at least once, only suites acquired at least once.
    std::map<std::string, long> callCountsDuring(PF_Cmd command) const;
    std::map<std::pair<std::string, int>, int> suitesAcquiredDuring(PF_Cmd command) const;
    // Names passed to AEGP_RegisterWithAEGP, in call order.
    std::vector<std::string> registeredNames() const;
    // Iteration calls made by iterate_generic on each thread index (0 is the calling thread,
    // 1..threads()-1 the pool's workers).
    std::vector<long> iterationsPerThread() const;

    struct Impl;
    Impl& impl();

private:
    std::unique_ptr<Impl> impl_;
    long (*effectAllocations_)() = nullptr;
};

// The byte every host-made world is filled with before the effect sees it (output worlds and
// worlds created without clearing), and that fills row padding: an output pixel that still
// holds it was not written.
inline constexpr std::uint8_t kUntouchedByte = 0xA5;

} // namespace OmbrelHost
