// The host's internal state shared by its units: the Host record behind the process-wide slot,
// the per-command contexts that effect_ref points at, host worlds and the instance data
// (parameters, popup values) of an effect or of a set of direct records.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Host/WorkerPool.h"

namespace OmbrelHost::detail {

// ---- Callback names, for counts and injected failures --------------------------------------

enum class Cb : int {
    AcquireSuite,
    ReleaseSuite,
    NewHandle,
    LockHandle,
    UnlockHandle,
    DisposeHandle,
    HandleSize,
    RegisterWithAEGP,
    GetNumThreads,
    IterateGeneric,
    NewWorld,
    DisposeWorld,
    PF_NewWorld,
    PF_DisposeWorld,
    GetPixelFormat,
    CheckoutParam,
    CheckinParam,
    AddParam,
    Copy,
    Sprintf,
    Strcpy,
    CheckoutLayer,
    CheckoutLayerPixels,
    CheckinLayerPixels,
    CheckoutOutput,
    Count
};

inline constexpr std::array<std::string_view, static_cast<std::size_t>(Cb::Count)> kCbNames = {
    "AcquireSuite",
    "ReleaseSuite",
    "host_new_handle",
    "host_lock_handle",
    "host_unlock_handle",
    "host_dispose_handle",
    "host_get_handle_size",
    "AEGP_RegisterWithAEGP",
    "AEGP_GetNumThreads",
    "iterate_generic",
    "new_world",
    "dispose_world",
    "PF_NewWorld",
    "PF_DisposeWorld",
    "PF_GetPixelFormat",
    "checkout_param",
    "checkin_param",
    "add_param",
    "copy",
    "sprintf",
    "strcpy",
    "checkout_layer",
    "checkout_layer_pixels",
    "checkin_layer_pixels",
    "checkout_output",
};

// The callbacks that give something back: an injected failure still takes it back.
constexpr bool givesBack(Cb cb) {
    return cb == Cb::ReleaseSuite || cb == Cb::CheckinParam || cb == Cb::CheckinLayerPixels ||
           cb == Cb::DisposeWorld || cb == Cb::PF_DisposeWorld;
}

// The command the entry point is running on this thread, or -1 outside of it (worker threads,
// direct records). Faults::onlyDuring is matched against it.
inline thread_local PF_Cmd tCurrentCommand = -1;

// Sets tCurrentCommand for the duration of one call of the entry point.
class CurrentCommand {
public:
    explicit CurrentCommand(PF_Cmd cmd) : previous_(tCurrentCommand) { tCurrentCommand = cmd; }
    ~CurrentCommand() { tCurrentCommand = previous_; }
    CurrentCommand(const CurrentCommand&) = delete;
    CurrentCommand& operator=(const CurrentCommand&) = delete;

private:
    PF_Cmd previous_;
};

// Commands whose calls are also counted one by one (Host::callCountsDuring).
inline constexpr std::size_t kCountedCommands = 32;
constexpr bool countedCommand(PF_Cmd cmd) {
    return cmd >= 0 && static_cast<std::size_t>(cmd) < kCountedCommands;
}

// ---- Suites the basic suite provides --------------------------------------------------------

struct SuiteId {
    const char* name;
    int version;
};

inline constexpr std::array<SuiteId, 6> kSuiteIds = {{
    {kPFHandleSuite, kPFHandleSuiteVersion2},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7},
    {kAEGPIterateSuite, kAEGPIterateSuiteVersion1},
    {kPFIterate8Suite, kPFIterate8SuiteVersion1},
    {kPFWorldSuite, kPFWorldSuiteVersion1},
    {kPFWorldSuite, kPFWorldSuiteVersion2},
}};

// ---- Worlds ---------------------------------------------------------------------------------

// Bytes of a pixel of a host pixel format; 0 for a format the host does not make.
int formatPixelBytes(PF_PixelFormat format);
PF_PixelFormat depthFormat(Depth depth);
// The format of a depth's worlds in a channel order; throws HostError for BGRA at 16 bits.
PF_PixelFormat worldFormat(Depth depth, WorldOrder order);
// True for the formats that hold a pixel's channels as BGRA.
bool bgraFormat(PF_PixelFormat format);

// The memory blocks of frames' worlds, kept when a frame is done for the next frame's worlds of
// the same size, as a real host keeps and reuses its frame buffers. On a Zen 5 core, 3840 x 2160
// frames bound by the memory (16-bit YUV, 32-bit, 8-bit on two threads) took 2 to 12 % longer in
// freshly allocated worlds than in reused ones; frames bound by their arithmetic took as long.
// At most kKeep blocks and kKeepBytes bytes are kept; the rest are freed. Thread-safe.
class WorldBlocks {
public:
    static constexpr std::size_t kAlignment = 64;
    WorldBlocks() { kept_.reserve(kKeep); }
    ~WorldBlocks();
    WorldBlocks(const WorldBlocks&) = delete;
    WorldBlocks& operator=(const WorldBlocks&) = delete;

    // A block of exactly `bytes` bytes aligned to kAlignment: a kept one when there is one,
    // else a new one (throws std::bad_alloc). Its contents are unspecified.
    std::uint8_t* take(std::size_t bytes);
    // Gives back a block from take.
    void give(std::uint8_t* block, std::size_t bytes) noexcept;

    // A new block aligned to kAlignment (throws std::bad_alloc), and its release: for memory
    // that is not kept.
    static std::uint8_t* allocate(std::size_t bytes);
    static void free(std::uint8_t* block) noexcept;

private:
    static constexpr std::size_t kKeep = 4;
    static constexpr std::size_t kKeepBytes = std::size_t{1} << 30;
    std::mutex mutex_;
    std::vector<std::pair<std::size_t, std::uint8_t*>> kept_; // bytes, block; oldest first
    std::size_t keptBytes_ = 0;
};

// A world's pixel memory and the host's bookkeeping; PF_LayerDef::host_private points here.
// The memory is one block: a guard zone, the rows (each with its padding) and another guard
// zone, all filled with kUntouchedByte first, so writes outside the pixels can be detected.
// The pixels start on a 64-byte boundary, as image buffers generally do (OpenCV's, for one), so
// that rows whose stride is a multiple of 64 bytes start on cache lines. With 16 (the earlier
// alignment, which left the pixels 16 bytes past a 32-byte boundary, where half of all 32-byte
// accesses straddle two lines) a 32-bit 3840 x 2160 frame took 7 to 21 % longer on a Zen 3 core.
class WorldMemory {
public:
    // Throws std::bad_alloc; width/height/padding checked by the caller. With rowsLater only the
    // guard zones are filled, and the caller fills every row with fillRows (a frame's worlds are
    // filled band by band on the threads that will convert them).
    // With blocks, the memory is taken from and given back to it.
    WorldMemory(int width, int height, PF_PixelFormat format, int rowPadding, bool clear,
                bool rowsLater = false, WorldBlocks* blocks = nullptr);
    ~WorldMemory();
    WorldMemory(const WorldMemory&) = delete;
    WorldMemory& operator=(const WorldMemory&) = delete;

    // Fills a PF_LayerDef for these pixels (host_private = this).
    void describe(PF_LayerDef& world) const;
    std::uint8_t* data() const { return block_ + kGuard; }
    std::size_t rowBytes() const { return rowBytes_; }
    int width() const { return width_; }
    int height() const { return height_; }
    PF_PixelFormat format() const { return format_; }
    int pixelBytes() const { return pixelBytes_; }
    // True when the guard zones and every row's padding still hold kUntouchedByte.
    bool outsideIntact() const;

    // Rows top..bottom-1 (padding included) to kUntouchedByte, their pixels to 0 with `clear`.
    void fillRows(int top, int bottom);
    // Only the padding of those rows, for rows whose pixels are copied in.
    void fillPadding(int top, int bottom);

    // Images are ARGB: a BGRA world's channels are moved on the way in and out.
    void copyFrom(const Image& image); // sizes must match
    void copyRowsFrom(const Image& image, int top, int bottom);
    Image toImage(Depth depth) const;
    bool equals(const Image& image) const;

    bool createdByEffect = false;
    bool frameOutput = false; // the output world of a frame

private:
    void fill(int top, int bottom, bool pixelsToo);

    static constexpr std::size_t kGuard = 64;
    static constexpr std::size_t kAlignment = 64; // of the block, and so of the pixels
    static_assert(kGuard % kAlignment == 0 && WorldBlocks::kAlignment == kAlignment);
    int width_;
    int height_;
    PF_PixelFormat format_;
    int pixelBytes_;
    bool clear_;
    std::size_t rowBytes_;
    std::size_t blockSize_;
    std::uint8_t* block_;
    WorldBlocks* blocks_;
};

// ---- Instance data --------------------------------------------------------------------------

struct RationalLess {
    bool operator()(const A_Time& a, const A_Time& b) const {
        return static_cast<std::int64_t>(a.value) * static_cast<std::int64_t>(b.scale) <
               static_cast<std::int64_t>(b.value) * static_cast<std::int64_t>(a.scale);
    }
};

// Parameters and popup values of one applied effect (or of one set of direct records).
struct Instance {
    mutable std::mutex mutex;
    std::vector<ParamRecord> params;
    std::map<A_Time, int, RationalLess> popup;

    void setPopup(int value, A_Time from);
    int popupAt(A_Time time) const;
    int paramCount() const; // the input layer plus the added parameters
};

// ---- Per-command context, what effect_ref points at -----------------------------------------

struct LayerCheckout {
    PF_RenderRequest request{};
    A_Time time{0, 1};
};

struct CallContext {
    Instance* instance = nullptr;
    PF_Cmd cmd = 0;
    bool allowAddParam = false;
    bool allowPreRender = false;   // checkout_layer
    bool allowSmartRender = false; // checkout_layer_pixels, checkout_output

    // The frame's worlds; the records handed to the effect are copies kept here so that their
    // addresses stay valid for the whole command.
    WorldMemory* input = nullptr;
    WorldMemory* output = nullptr;
    PF_LayerDef inputWorld{};
    PF_LayerDef outputWorld{};
    int createdWorldPadding = 0;            // row padding of worlds the effect creates
    std::optional<PF_LRect> inputMaxResult; // checkout_layer's max_result_rect; default the layer

    std::mutex mutex; // the effect may call back from its worker threads
    std::map<A_long, LayerCheckout> checkouts;
    std::optional<LayerCheckout> lastRequest; // of layer 0
    std::map<A_long, int> layersOut;          // checkout id -> times its pixels were checked out
};

// ---- The Host record ------------------------------------------------------------------------

struct HandleRecord {
    void* data = nullptr; // the master pointer: the PF_Handle is its address
    std::size_t size = 0;
    int locks = 0;

    HandleRecord() = default;
    ~HandleRecord();
    HandleRecord(const HandleRecord&) = delete;
    HandleRecord& operator=(const HandleRecord&) = delete;
};

struct HostState {
    explicit HostState(int threads);
    ~HostState();

    int threads;
    Faults faults;
    WorldBlocks worldBlocks; // before pool: frames' worlds are made on the pool's threads
    WorkerPool pool;
    std::array<std::atomic<long>, static_cast<std::size_t>(Cb::Count)> calls{};
    // The same per command the entry point was running (codes below kCountedCommands).
    std::array<std::array<std::atomic<long>, static_cast<std::size_t>(Cb::Count)>, kCountedCommands>
        callsDuring{};

    mutable std::mutex mutex; // guards everything below
    std::unordered_set<const CallContext*> contexts;
    std::unordered_map<PF_Handle, std::unique_ptr<HandleRecord>> handles;
    // Per entry of kSuiteIds. Fixed slots: acquiring and releasing a suite never allocates, so
    // a release cannot fail for want of memory.
    std::array<SuiteCount, kSuiteIds.size()> suites{};
    std::array<std::array<int, kSuiteIds.size()>, kCountedCommands> acquiredDuring{};
    std::unordered_set<const WorldMemory*> worlds; // every live host world
    std::unordered_map<const WorldMemory*, std::unique_ptr<WorldMemory>> created;
    std::unordered_map<A_long, int> paramTokens; // token in PF_ParamDef::unused -> 1
    A_long nextParamToken = 1;
    int layersOut = 0;
    int preRenderData = 0;                           // see HeldResources::preRenderData
    std::vector<std::pair<std::string, int>> misuse; // text, occurrences, first-seen order
    std::vector<std::string> registered;
    AEGP_PluginID nextPluginId = 1001;

    void count(Cb cb) {
        calls[static_cast<std::size_t>(cb)].fetch_add(1);
        if (countedCommand(tCurrentCommand))
            callsDuring[static_cast<std::size_t>(tCurrentCommand)][static_cast<std::size_t>(cb)]
                .fetch_add(1);
    }
    // True when the faults apply to the calling thread now (Faults::onlyDuring).
    bool faulting() const { return !faults.onlyDuring || *faults.onlyDuring == tCurrentCommand; }
    std::optional<PF_Err> injected(Cb cb) const;
    bool suiteRefused(std::string_view name, int version) const;
    void recordMisuse(std::string text);                // takes the mutex
    void recordMisuseLocked(std::string text);          // mutex already held
    CallContext* context(PF_ProgPtr effect_ref, Cb cb); // null (and misuse) when unknown

    void addContext(CallContext* ctx);
    void removeContext(CallContext* ctx);
    void addWorld(const WorldMemory* world);
    void removeWorld(const WorldMemory* world);
    // The host world behind a PF_LayerDef, or null when the host did not make it.
    const WorldMemory* findWorld(const PF_LayerDef* world) const;
};

// The active host, or null when none is alive.
HostState* activeHost();

// Marks a thread as running one of the host's callbacks for the scope (inHostCallback()).
class InCallback {
public:
    InCallback() { ++tCallbackDepth; }
    ~InCallback() { --tCallbackDepth; }
    InCallback(const InCallback&) = delete;
    InCallback& operator=(const InCallback&) = delete;

    inline static thread_local int tCallbackDepth = 0;
};

// Runs a C callback's body with the active host: counts the call, applies an injected failure,
// and turns any exception into an error code so that none reaches the plug-in.
template <class Body>
PF_Err guarded(Cb cb, Body&& body) noexcept {
    const InCallback inCallback;
    try {
        HostState* host = activeHost();
        if (host == nullptr)
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        host->count(cb);
        const std::optional<PF_Err> err = host->injected(cb);
        if (!err)
            return body(*host);
        if (givesBack(cb))
            body(*host);
        return *err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

// Tables the host hands out.
SPBasicSuite makeBasicSuite();
PF_InteractCallbacks makeInteractCallbacks();
PF_UtilCallbacks makeUtilCallbacks();
PF_PreRenderCallbacks makePreRenderCallbacks();
PF_SmartRenderCallbacks makeSmartRenderCallbacks();

inline PF_ProgPtr toEffectRef(CallContext* ctx) {
    return reinterpret_cast<PF_ProgPtr>(ctx);
}

// A context registered with the host for its lifetime (RAII), with the records of a command.
struct CommandFrame {
    CommandFrame(HostState& host, Instance& instance, PF_Cmd cmd);
    ~CommandFrame();
    CommandFrame(const CommandFrame&) = delete;
    CommandFrame& operator=(const CommandFrame&) = delete;

    HostState& host;
    CallContext ctx;
    SPBasicSuite basic;
    PF_UtilCallbacks utils;
    PF_InData in{};
    PF_OutData out{};
    // Worlds of this frame, freed (and unregistered) with it.
    std::unique_ptr<WorldMemory> inputMemory;
    std::unique_ptr<WorldMemory> outputMemory;

    // Zeroes out_data except the host's preset fault flags.
    void resetOut();
    // Makes the input world from an image; padding in bytes, a multiple of the pixel size.
    void setInput(const Image& image, int padding, WorldOrder order = WorldOrder::Argb);
    // Makes the output world, filled with kUntouchedByte.
    void setOutput(int width, int height, PF_PixelFormat format, int padding);
    // Layer pixels checked out and not checked in are given back when the command returns.
    void returnLayers();
};

// Checks a row padding request; throws HostError.
void checkPadding(int padding, Depth depth, const char* what);
Depth formatDepth(PF_PixelFormat format);

} // namespace OmbrelHost::detail

namespace OmbrelHost {
struct Host::Impl : detail::HostState {
    using HostState::HostState;
};
} // namespace OmbrelHost
