// The simulated host: loads an effect module, plays the host's side of every call the effect
// makes, and drives whole frames through it. Used by ombrel-render and by the tests.
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
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
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
// "PF_Cmd_SMART_RENDER", or "command 42" for one the host does not know.
std::string commandName(PF_Cmd cmd);

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
    // Decoded values of the properties the host acts on. An absent eVER, eGLO or eGL2 reads 0.
    std::string kind;
    std::string name;
    std::string category;
    std::string entryPoint; // from the format's entry point property ("8664", "mi64")
    std::string matchName;
    std::uint32_t version = 0;
    std::uint32_t outFlags = 0;
    std::uint32_t outFlags2 = 0;

    const PiPLProperty* find(std::string_view key) const; // first property with that key
};

// How a platform stores its PiPL: the byte order of its integers (four-character codes are
// integers too) and the property naming the entry point for the platform's processor.
struct PiPLFormat {
    bool bigEndian;
    const char* entryPointKey;
};
// Windows x64 resource, and the Linux section in the same form.
inline constexpr PiPLFormat kWindowsPiPL{false, "8664"};
// macOS bundle resource, for 64-bit Intel.
inline constexpr PiPLFormat kMacIntelPiPL{true, "mi64"};

// Decodes PiPL bytes; throws HostError naming what is malformed: bad header (also when the
// bytes are in the other byte order), truncated property, count mismatch, length past the end,
// a property of the wrong size for its key, no "kind" eFKT, no entry point name under the
// format's key.
PiPL decodePiPL(std::span<const std::uint8_t> bytes, const PiPLFormat& format = kWindowsPiPL);
// A module as found on disk, read without loading it: what it is, whether this host can load
// it, and its PiPL bytes.
struct ModuleFile {
    std::filesystem::path path;     // as given: a file, or a bundle's folder
    std::string format;             // "ELF module", "PE module", "macOS bundle"
    std::string platform;           // what it is for: "Linux x86-64", "Windows x64", "macOS"
    bool loadableHere = false;      // this host's loader can open `binary`
    std::filesystem::path binary;   // what the loader opens (a bundle's Contents/MacOS/<name>)
    PiPLFormat piplFormat{};        // how its PiPL is encoded
    std::vector<std::uint8_t> pipl; // undecoded
};

// Reads a module file (ELF section ".pipl"; PE resource "PIPL" 16000, language 1033; or a macOS
// bundle's 'PiPL' resource 16000 in Contents/Resources/<executable>.rsrc); throws HostError
// naming the path when it cannot be read or carries no PiPL.
ModuleFile readModuleFile(const std::filesystem::path& module);
// readModuleFile's PiPL bytes.
std::vector<std::uint8_t> readModulePiPL(const std::filesystem::path& module);

// ---- Modules ------------------------------------------------------------------------------

class Module {
public:
    // Reads and decodes the PiPL, then loads the module and resolves the entry point the PiPL
    // names; throws HostError (missing file, no or malformed PiPL, a module for another
    // platform, no entry point, not loadable) with one line that names the file. The PiPL is
    // read before any of the module's code runs, the way the platform's host reads it: on
    // Windows through the resource functions, from the module mapped as data.
    static Module load(const std::filesystem::path& path);
    // An effect linked into this process (tests), described by the given PiPL.
    static Module fromEntryPoint(PF_EntryPointFunc entry, PiPL pipl);

    const PiPL& pipl() const;
    PF_EntryPointFunc entryPoint() const;
    const std::filesystem::path& path() const;

private:
    Module() = default;
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// ---- Host ---------------------------------------------------------------------------------

struct HostOptions {
    int threads = 0; // reported by AEGP_GetNumThreads and size of the worker pool; 0: the machine's
    // Blocks of memory the effect allocated and has not freed, as a counting allocator of the
    // embedding program (a test build) tells; held() reports it. Null: not counted.
    long (*effectAllocations)() = nullptr;
};

// True on a thread while it runs one of the host's callbacks: what is allocated then is the
// host's, not the effect's (for the counting allocator behind HostOptions::effectAllocations).
bool inHostCallback();

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

// ---- Driving an effect --------------------------------------------------------------------

struct CommandResult {
    PF_Err err = PF_Err_NONE;
    PF_OutData out{};         // the output record after the command
    std::string message;      // out.return_msg
    bool showMessage = false; // PF_OutFlag_DISPLAY_ERROR_MESSAGE was set
};

// The channel order of the worlds a frame is rendered through. The host's BGRA formats ("bgra"
// at 8 bits, "BGra" at 32; there is none at 16) hold ARGB's channels in reverse order: blue,
// green, red, alpha.
enum class WorldOrder { Argb, Bgra };

struct FrameRequest {
    const Image* input = nullptr; // the input layer, at the render depth
    // Images stay ARGB whatever the worlds' order: the host moves the channels on the way into
    // the input world and out of the output world. BGRA at 16 bits throws HostError.
    WorldOrder worldOrder = WorldOrder::Argb;
    // An output world of this pixel format instead of the input's (a host that hands the effect
    // a world it cannot write); the outputs then hold that world as an image of its own depth.
    // A format the host makes no worlds of throws HostError.
    std::optional<PF_PixelFormat> outputFormat{};
    A_Time time{0, 1};
    A_long timeStep = 1;                  // frame duration in time.scale units
    std::optional<PF_LRect> outputRect{}; // what the host requests; default the whole layer
    // Extra bytes at the end of every row of the worlds; a multiple of the pixel size (the
    // effect finds pixels by rowbytes / pixel size).
    int inputRowPadding = 0;
    int outputRowPadding = 0;
    PF_RationalScale downsampleX{1, 1};
    PF_RationalScale downsampleY{1, 1};
    // What checkout_layer reports as the input's largest possible result (a layer whose
    // content can grow beyond its current frame); default the layer. Its result rectangle is
    // the request clipped to the layer.
    std::optional<PF_LRect> inputMaxResultRect{};
    // Smart renders sent after one successful pre-render, each into a new output world: 0
    // drops the pre-render unrendered (a host that only wanted the result rectangle, or a
    // cancelled frame), 2 renders the frame again from the same pre-render data. At most 8.
    int smartRenders = 1;
    // Smart render is sent a null pre_render_data, as by a host that lost it.
    bool withoutPreRenderData = false;
};

struct FrameResult {
    PF_Err preRenderErr = PF_Err_NONE;
    PF_Err renderErr = PF_Err_NONE;  // the first failed smart render's; 0 when none failed or
                                     // none was sent
    bool rendered = false;           // smart render was sent
    Image output;                    // the output world as the last smart render left it
    std::vector<PF_Err> renderErrs;  // every smart render's result, in order
    std::vector<Image> outputs;      // every smart render's output world, in order
    PF_OutData preRenderOut{};       // out_data after pre-render
    PF_OutData renderOut{};          // out_data after the last smart render
    PF_LRect outputRect{};           // where the output world lies on the layer
    std::string message;             // return_msg, when the effect asked to show it
    PF_PreRenderOutput preRender{};  // what pre-render reported
    PF_RenderRequest inputRequest{}; // what the effect asked of its input in checkout_layer
    bool inputCheckedOut = false;    // checkout_layer was called
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
    // disagreement throws HostError, as the real host refuses such a module). The check is made
    // on success only; a failing command is reported through CommandResult::err.
    CommandResult globalSetup();
    CommandResult paramsSetup();
    CommandResult globalSetdown();
    // Any command with no extra record, for the commands the effect ignores.
    CommandResult send(PF_Cmd cmd);

    // Popup "From" value from the given time on (the host keeps one value per start time,
    // compared exactly as rationals). Values are passed on unchecked so that tests can show
    // what the effect does with one out of range. A time scale of 0 throws HostError.
    void setPopup(int value, A_Time from = {0, 1});
    // The value checkout_param reports at that time: the last value set from a time at or
    // before it, else the popup's default from params setup (1 before it).
    int popupAt(A_Time time) const;

    // Parameters added during params setup (index 1 is the popup).
    std::vector<ParamRecord> params() const;
    // The global data handle as stored from global setup's out_data (null before or after).
    PF_Handle globalData() const;

    // Smart pre-render, then smart render, of one frame. Safe to call from several threads
    // at once (each frame has its own records, worlds and context). Throws HostError for a
    // request the host cannot serve (no input, bad padding) or when an exception escapes the
    // entry point.
    FrameResult render(const FrameRequest& request);

    const Module& module() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace OmbrelHost
