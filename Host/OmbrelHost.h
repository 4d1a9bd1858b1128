// The simulated host: loads an effect module, plays the host's side of every call the effect
// makes, and drives whole frames through it. Used by ombrel-render and by the tests.
//
// One Host is active in a process at a time: the host's C callbacks (the basic suite and the
// suites behind it) carry no context pointer, so they reach the active Host through a
// process-wide slot that the Host's constructor fills and its destructor clears.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Host/Image.h"
#include "HostInterface/EffectInterface.h"
#include "HostInterface/SuiteInterface.h"

namespace OmbrelHost {

// A failure of the host itself or of loading a module, with one line saying what and why.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "PF_Err_BAD_CALLBACK_PARAM (516)"; unknown codes as "PF_Err 1234".
std::string errorName(PF_Err err);

// ---- PiPL ---------------------------------------------------------------------------------

struct PiPLProperty {
    std::string vendor; // "8BIM"
    std::string key;    // "kind", "name", ...
    std::uint32_t id = 0;
    std::vector<std::uint8_t> data; // without padding
    std::string text; // decoded value for display: "eFKT", "OmbrelColorSpaceConversion",
                      // "0x00080601", "2.0"
};

struct PiPL {
    std::vector<PiPLProperty> properties; // in file order
    // Decoded values of the properties the host acts on.
    std::string kind;
    std::string name;
    std::string category;
    std::string entryPoint; // "8664"
    std::string matchName;
    std::uint32_t version = 0;
    std::uint32_t outFlags = 0;
    std::uint32_t outFlags2 = 0;
};

// Decodes PiPL bytes; throws HostError naming what is malformed.
PiPL decodePiPL(std::span<const std::uint8_t> bytes);
// The PiPL bytes of a module file (ELF section ".pipl"; PE resource "PIPL" 16000 on Windows);
// throws HostError when the file cannot be read or carries no PiPL.
std::vector<std::uint8_t> readModulePiPL(const std::filesystem::path& module);

// ---- Modules ------------------------------------------------------------------------------

class Module {
public:
    // Reads and decodes the PiPL, then loads the module and resolves the entry point the PiPL
    // names; throws HostError (missing file, no or malformed PiPL, no entry point, not loadable).
    static Module load(const std::filesystem::path& path);
    // An effect linked into this process (tests), described by the given PiPL.
    static Module fromEntryPoint(PF_EntryPointFunc entry, PiPL pipl);

    const PiPL& pipl() const;
    PF_EntryPointFunc entryPoint() const;
    const std::filesystem::path& path() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// ---- Host ---------------------------------------------------------------------------------

struct HostOptions {
    int threads = 0; // reported by AEGP_GetNumThreads and size of the worker pool; 0: the machine's
};

// Faults the host can be told to produce, for tests.
struct Faults {
    std::vector<std::pair<std::string, int>>
        refusedSuites;                              // (name, version) the basic suite refuses
    std::map<std::string, PF_Err> failingCallbacks; // callback name -> error it returns
    bool nullNewHandle = false;                     // host_new_handle returns null
    bool nullLockHandle = false;                    // host_lock_handle returns null
    PF_OutFlags presetOutFlags = 0;                 // bits set in out_flags before a command
    PF_OutFlags2 presetOutFlags2 = 0;
    bool nullInputWorld = false;  // checkout_layer_pixels succeeds with a null world
    bool nullOutputWorld = false; // checkout_output succeeds with a null world
    std::optional<PF_PixelFormat> reportedPixelFormat; // what PF_GetPixelFormat says of any world
    std::optional<A_long> reportedThreads;             // what AEGP_GetNumThreads says
};

// Host resources an effect holds at a moment; all zero between frames after global setdown.
struct HeldResources {
    int handles = 0;
    int checkedOutParams = 0;
    int createdWorlds = 0;
    int checkedOutLayers = 0;
    std::map<std::pair<std::string, int>, int> suites; // (name, version) -> references held
    std::vector<std::string> misuse; // double dispose, release without acquire, ...

    bool empty() const;
    std::string describe() const; // one line per held resource
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

    struct Impl;
    Impl& impl();

private:
    std::unique_ptr<Impl> impl_;
};

// ---- Driving an effect --------------------------------------------------------------------

struct CommandResult {
    PF_Err err = PF_Err_NONE;
    PF_OutData out{};         // the output record after the command
    std::string message;      // out.return_msg
    bool showMessage = false; // PF_OutFlag_DISPLAY_ERROR_MESSAGE was set
};

struct FrameRequest {
    const Image* input = nullptr; // the input layer, at the render depth
    A_Time time{0, 1};
    std::optional<PF_LRect> outputRect; // what the host requests; default the whole layer
    int inputRowPadding = 0;            // extra bytes at the end of every row of the worlds
    int outputRowPadding = 0;
    PF_RationalScale downsampleX{1, 1};
    PF_RationalScale downsampleY{1, 1};
};

struct FrameResult {
    PF_Err preRenderErr = PF_Err_NONE;
    PF_Err renderErr = PF_Err_NONE;  // not attempted (0) when pre-render failed
    Image output;                    // the output world as the effect left it
    std::string message;             // return_msg, when the effect asked to show it
    PF_PreRenderOutput preRender{};  // what pre-render reported
    PF_RenderRequest inputRequest{}; // what the effect asked of its input in checkout_layer
    double renderSeconds = 0;        // pre-render plus smart render

    PF_Err err() const { return preRenderErr != PF_Err_NONE ? preRenderErr : renderErr; }
};

// One applied instance of an effect in a host: its global data, parameters and frames.
class Effect {
public:
    Effect(Host& host, Module module);
    ~Effect();

    CommandResult about();
    // Runs global setup and checks that the version and flags agree with the PiPL (a
    // disagreement throws HostError, as the real host refuses such a module).
    CommandResult globalSetup();
    CommandResult paramsSetup();
    CommandResult globalSetdown();
    // Any command with no extra record, for the commands the effect ignores.
    CommandResult send(PF_Cmd cmd);

    // Popup "From" value, 1..6, from the given time on (the host keeps one value per time).
    void setPopup(int value, A_Time from = {0, 1});

    // Smart pre-render, then smart render, of one frame. Safe to call from several threads
    // at once (each frame has its own records and handles).
    FrameResult render(const FrameRequest& request);

    const Module& module() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace OmbrelHost
