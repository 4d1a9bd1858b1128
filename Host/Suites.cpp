// The basic suite and the suites it hands out: handles, AEGP utility, AEGP iterate, Iterate8
// and the World suites 1 and 2.
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "Host/HostState.h"

namespace OmbrelHost::detail {

HandleRecord::~HandleRecord() {
    if (data != nullptr)
        ::operator delete[](data, std::align_val_t(16));
}

namespace {

// ---- Handle suite 2 -------------------------------------------------------------------------

// Handles are master pointers: the PF_Handle is the address of the record's data pointer, so
// *handle reaches the bytes as on the real host. Every handle the host made is in a registry;
// a call with any other pointer is recorded as misuse and never dereferenced.
constexpr A_HandleSize kMaxHandleSize = 1u << 30;

template <class Result, class Body>
Result guardedValue(Cb cb, Result failure, Body&& body) noexcept {
    const InCallback inCallback;
    try {
        HostState* host = activeHost();
        if (host == nullptr)
            return failure;
        host->count(cb);
        return body(*host);
    } catch (...) {
        return failure;
    }
}

PF_Handle newHandle(A_HandleSize size) {
    return guardedValue(Cb::NewHandle, PF_Handle{nullptr}, [&](HostState& host) -> PF_Handle {
        if ((host.faulting() && host.faults.nullNewHandle) || size > kMaxHandleSize)
            return nullptr;
        auto record = std::make_unique<HandleRecord>();
        const std::size_t bytes = size == 0 ? 1 : size;
        record->data = ::operator new[](bytes, std::align_val_t(16));
        std::memset(record->data, kUntouchedByte, bytes);
        record->size = size;
        PF_Handle handle = &record->data;
        std::lock_guard lock(host.mutex);
        host.handles.emplace(handle, std::move(record));
        return handle;
    });
}

HandleRecord* findHandle(HostState& host, PF_Handle handle, const char* what) {
    auto it = host.handles.find(handle);
    if (it != host.handles.end())
        return it->second.get();
    host.recordMisuseLocked(std::string(what) + " of an unknown or already disposed handle");
    return nullptr;
}

void* lockHandle(PF_Handle handle) {
    return guardedValue(Cb::LockHandle, static_cast<void*>(nullptr), [&](HostState& host) -> void* {
        if (host.faulting() && host.faults.nullLockHandle)
            return nullptr;
        std::lock_guard lock(host.mutex);
        HandleRecord* record = findHandle(host, handle, "host_lock_handle");
        if (record == nullptr)
            return nullptr;
        ++record->locks;
        return record->data;
    });
}

void unlockHandle(PF_Handle handle) {
    guardedValue(Cb::UnlockHandle, 0, [&](HostState& host) {
        std::lock_guard lock(host.mutex);
        HandleRecord* record = findHandle(host, handle, "host_unlock_handle");
        if (record == nullptr)
            return 0;
        if (record->locks == 0)
            host.recordMisuseLocked("host_unlock_handle of a handle that is not locked");
        else
            --record->locks;
        return 0;
    });
}

void disposeHandle(PF_Handle handle) {
    guardedValue(Cb::DisposeHandle, 0, [&](HostState& host) {
        if (handle == nullptr)
            return 0; // like free(NULL)
        std::lock_guard lock(host.mutex);
        auto it = host.handles.find(handle);
        if (it == host.handles.end()) {
            host.recordMisuseLocked("host_dispose_handle of an unknown or already disposed handle");
            return 0;
        }
        // The real host frees a locked handle's memory all the same, under whoever holds the
        // pointer the lock gave.
        if (it->second->locks > 0)
            host.recordMisuseLocked("host_dispose_handle of a locked handle");
        host.handles.erase(it);
        return 0;
    });
}

A_HandleSize handleSize(PF_Handle handle) {
    return guardedValue(Cb::HandleSize, A_HandleSize{0}, [&](HostState& host) {
        std::lock_guard lock(host.mutex);
        HandleRecord* record = findHandle(host, handle, "host_get_handle_size");
        return record == nullptr ? A_HandleSize{0} : static_cast<A_HandleSize>(record->size);
    });
}

const PF_HandleSuite2 kHandleSuite2 = {newHandle, lockHandle, unlockHandle, disposeHandle,
                                       handleSize};

// ---- AEGP Utility suite 7 -------------------------------------------------------------------

A_Err registerWithAEGP(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id) {
    return guarded(Cb::RegisterWithAEGP, [&](HostState& host) -> PF_Err {
        if (name == nullptr || id == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        std::lock_guard lock(host.mutex);
        host.registered.emplace_back(name);
        *id = host.nextPluginId++;
        return PF_Err_NONE;
    });
}

const AEGP_UtilitySuite7 kUtilitySuite7 = {registerWithAEGP};

// ---- AEGP Iterate suite 1 -------------------------------------------------------------------

A_Err getNumThreads(A_long* threads) {
    return guarded(Cb::GetNumThreads, [&](HostState& host) -> PF_Err {
        if (threads == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        *threads =
            host.faulting() ? host.faults.reportedThreads.value_or(host.threads) : host.threads;
        return PF_Err_NONE;
    });
}

const AEGP_IterateSuite1 kIterateSuite1 = {getNumThreads};

// ---- PF Iterate8 suite 1 --------------------------------------------------------------------

PF_Err iterateGeneric(A_long iterations, void* refcon, PF_IterateGenericFunc fn) {
    return guarded(Cb::IterateGeneric, [&](HostState& host) -> PF_Err {
        if (iterations <= 0)
            return PF_Err_NONE;
        if (fn == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        bool threw = false;
        const PF_Err err = host.pool.run(iterations, refcon, fn, threw);
        if (threw)
            host.recordMisuse("an iterate_generic callback let an exception escape");
        return err;
    });
}

// The Iterate8 slots the effect does not call. Called through the real function's type, this
// returns 516 in the return register, which is the best a stand-in can do; the call is recorded.
PF_Err unusedSuiteFunction() {
    if (HostState* host = activeHost())
        host->recordMisuse("a suite function this host does not provide was called");
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_UnusedSuiteFunc unusedSlot() {
    return reinterpret_cast<PF_UnusedSuiteFunc>(&unusedSuiteFunction);
}

const PF_Iterate8Suite1 kIterate8Suite1 = {{unusedSlot(), unusedSlot(), unusedSlot(), unusedSlot()},
                                           iterateGeneric};

// ---- PF World suites 1 and 2 ----------------------------------------------------------------

PF_Err newWorld(HostState& host, PF_ProgPtr effect_ref, Cb cb, A_long width, A_long height,
                PF_PixelFormat format, bool clear, PF_EffectWorld* world) {
    CallContext* ctx = host.context(effect_ref, cb);
    if (ctx == nullptr || world == nullptr || width < 0 || height < 0)
        return PF_Err_BAD_CALLBACK_PARAM;
    const int bytes = formatPixelBytes(format);
    if (bytes == 0)
        return PF_Err_BAD_CALLBACK_PARAM;
    // Created worlds carry the frame's output row padding, rounded up to whole pixels.
    const int padding = (ctx->createdWorldPadding + bytes - 1) / bytes * bytes;
    const std::int64_t rowBytes = std::int64_t{width} * bytes + padding;
    if (rowBytes > std::numeric_limits<A_long>::max() ||
        rowBytes * std::int64_t{height} > (std::int64_t{1} << 34))
        return PF_Err_OUT_OF_MEMORY;
    auto memory = std::make_unique<WorldMemory>(width, height, format, padding, clear);
    memory->createdByEffect = true;
    memory->describe(*world);
    std::lock_guard lock(host.mutex);
    host.worlds.insert(memory.get());
    const WorldMemory* key = memory.get();
    host.created.emplace(key, std::move(memory));
    return PF_Err_NONE;
}

PF_Err disposeWorld(HostState& host, PF_ProgPtr effect_ref, Cb cb, PF_EffectWorld* world) {
    if (host.context(effect_ref, cb) == nullptr || world == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    std::unique_ptr<WorldMemory> memory;
    {
        std::lock_guard lock(host.mutex);
        auto it = host.created.find(static_cast<const WorldMemory*>(world->host_private));
        if (it == host.created.end()) {
            host.recordMisuseLocked(std::string(kCbNames[static_cast<std::size_t>(cb)]) +
                                    " of a world the effect did not create or already disposed");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        memory = std::move(it->second);
        host.created.erase(it);
        host.worlds.erase(memory.get());
        if (!memory->outsideIntact())
            host.recordMisuseLocked("the effect wrote outside the pixels of a world it created");
    }
    world->data = nullptr;
    world->host_private = nullptr;
    return PF_Err_NONE;
}

PF_Err newWorld1(PF_ProgPtr effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                 PF_EffectWorld* world) {
    return guarded(Cb::NewWorld, [&](HostState& host) {
        const PF_PixelFormat format = (flags & PF_NewWorldFlag_DEEP_PIXELS) != 0
                                          ? PF_PixelFormat_ARGB64
                                          : PF_PixelFormat_ARGB32;
        return newWorld(host, effect_ref, Cb::NewWorld, width, height, format,
                        (flags & PF_NewWorldFlag_CLEAR_PIXELS) != 0, world);
    });
}

PF_Err disposeWorld1(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    return guarded(Cb::DisposeWorld, [&](HostState& host) {
        return disposeWorld(host, effect_ref, Cb::DisposeWorld, world);
    });
}

PF_Err newWorld2(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear,
                 PF_PixelFormat format, PF_EffectWorld* world) {
    return guarded(Cb::PF_NewWorld, [&](HostState& host) {
        return newWorld(host, effect_ref, Cb::PF_NewWorld, width, height, format, clear != 0,
                        world);
    });
}

PF_Err disposeWorld2(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    return guarded(Cb::PF_DisposeWorld, [&](HostState& host) {
        return disposeWorld(host, effect_ref, Cb::PF_DisposeWorld, world);
    });
}

PF_Err getPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    return guarded(Cb::GetPixelFormat, [&](HostState& host) -> PF_Err {
        if (world == nullptr || format == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        if (host.faulting() && host.faults.reportedPixelFormat) {
            *format = *host.faults.reportedPixelFormat;
            return PF_Err_NONE;
        }
        const WorldMemory* memory = host.findWorld(world);
        if (memory == nullptr) {
            host.recordMisuse("PF_GetPixelFormat of a world the host did not make");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *format = memory->format();
        if (memory->frameOutput && host.faulting()) {
            if (host.faults.outputPixelFormatError != PF_Err_NONE)
                return host.faults.outputPixelFormatError;
            if (host.faults.reportedOutputPixelFormat)
                *format = *host.faults.reportedOutputPixelFormat;
        }
        return PF_Err_NONE;
    });
}

const PF_WorldSuite1 kWorldSuite1 = {newWorld1, disposeWorld1};
const PF_WorldSuite2 kWorldSuite2 = {newWorld2, disposeWorld2, getPixelFormat};

// ---- Basic suite ----------------------------------------------------------------------------

// Tables in the order of kSuiteIds.
const std::array<const void*, kSuiteIds.size()> kSuiteTables = {&kHandleSuite2,  &kUtilitySuite7,
                                                                &kIterateSuite1, &kIterate8Suite1,
                                                                &kWorldSuite1,   &kWorldSuite2};

std::optional<std::size_t> findSuite(const char* name, A_long version) {
    for (std::size_t i = 0; i < kSuiteIds.size(); ++i) {
        if (kSuiteIds[i].version == version && std::strcmp(kSuiteIds[i].name, name) == 0)
            return i;
    }
    return std::nullopt;
}

SPErr acquireSuite(const char* name, A_long version, const void** suite) {
    if (suite != nullptr)
        *suite = nullptr;
    return guarded(Cb::AcquireSuite, [&](HostState& host) -> PF_Err {
        if (name == nullptr || suite == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        const std::optional<std::size_t> i = findSuite(name, version);
        if (!i)
            return kSPSuiteNotFoundError;
        if (host.suiteRefused(name, version))
            return host.faults.refusedSuiteError; // 0: success, and no table
        std::lock_guard lock(host.mutex);
        ++host.suites[*i].acquired;
        if (countedCommand(tCurrentCommand))
            ++host.acquiredDuring[static_cast<std::size_t>(tCurrentCommand)][*i];
        *suite = kSuiteTables[*i];
        return kSPNoError;
    });
}

SPErr releaseSuite(const char* name, A_long version) {
    return guarded(Cb::ReleaseSuite, [&](HostState& host) -> PF_Err {
        if (name == nullptr)
            return PF_Err_BAD_CALLBACK_PARAM;
        const std::optional<std::size_t> i = findSuite(name, version);
        std::lock_guard lock(host.mutex);
        if (!i || host.suites[*i].released >= host.suites[*i].acquired) {
            host.recordMisuseLocked("ReleaseSuite(\"" + std::string(name) + "\", " +
                                    std::to_string(version) + ") without a matching AcquireSuite");
            return kSPSuiteNotFoundError;
        }
        ++host.suites[*i].released;
        return kSPNoError;
    });
}

} // namespace

SPBasicSuite makeBasicSuite() {
    return SPBasicSuite{acquireSuite, releaseSuite};
}

} // namespace OmbrelHost::detail
