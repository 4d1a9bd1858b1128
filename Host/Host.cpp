#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "Host/HostState.h"

namespace OmbrelHost {

namespace detail {

namespace {
std::atomic<HostState*> gActive{nullptr};
} // namespace

HostState* activeHost() {
    return gActive.load(std::memory_order_acquire);
}

HostState::HostState(int threadCount) : threads(threadCount), pool(threadCount) {}

HostState::~HostState() = default;

std::optional<PF_Err> HostState::injected(Cb cb) const {
    if (!faulting())
        return std::nullopt;
    // A walk rather than find(): no key string is made, so no callback allocates for this.
    const std::string_view name = kCbNames[static_cast<std::size_t>(cb)];
    for (const auto& [callback, err] : faults.failingCallbacks) {
        if (callback == name)
            return err;
    }
    return std::nullopt;
}

bool HostState::suiteRefused(std::string_view name, int version) const {
    return faulting() &&
           std::any_of(faults.refusedSuites.begin(), faults.refusedSuites.end(),
                       [&](const auto& s) { return s.first == name && s.second == version; });
}

void HostState::recordMisuseLocked(std::string text) {
    for (auto& entry : misuse) {
        if (entry.first == text) {
            ++entry.second;
            return;
        }
    }
    misuse.emplace_back(std::move(text), 1);
}

void HostState::recordMisuse(std::string text) {
    std::lock_guard lock(mutex);
    recordMisuseLocked(std::move(text));
}

CallContext* HostState::context(PF_ProgPtr effect_ref, Cb cb) {
    auto* ctx = reinterpret_cast<CallContext*>(effect_ref);
    std::lock_guard lock(mutex);
    if (ctx != nullptr && contexts.count(ctx) != 0)
        return ctx;
    recordMisuseLocked(std::string(kCbNames[static_cast<std::size_t>(cb)]) +
                       (ctx == nullptr ? " called with a null effect_ref"
                                       : " called with an effect_ref of no command in progress"));
    return nullptr;
}

void HostState::addContext(CallContext* ctx) {
    std::lock_guard lock(mutex);
    contexts.insert(ctx);
}

void HostState::removeContext(CallContext* ctx) {
    std::lock_guard lock(mutex);
    contexts.erase(ctx);
}

void HostState::addWorld(const WorldMemory* world) {
    std::lock_guard lock(mutex);
    worlds.insert(world);
}

void HostState::removeWorld(const WorldMemory* world) {
    std::lock_guard lock(mutex);
    worlds.erase(world);
}

const WorldMemory* HostState::findWorld(const PF_LayerDef* world) const {
    if (world == nullptr)
        return nullptr;
    auto* memory = static_cast<const WorldMemory*>(world->host_private);
    std::lock_guard lock(mutex);
    return worlds.count(memory) != 0 ? memory : nullptr;
}

} // namespace detail

// ---- Host -----------------------------------------------------------------------------------

namespace {
int resolveThreads(int requested) {
    if (requested < 0 || requested > 1024)
        throw HostError("host thread count " + std::to_string(requested) +
                        " is out of range (0 for the machine's, else 1..1024)");
    if (requested > 0)
        return requested;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(hw);
}
} // namespace

Host::Host(HostOptions options) {
    const int threadCount = resolveThreads(options.threads);
    auto impl = std::make_unique<Impl>(threadCount);
    detail::HostState* expected = nullptr;
    if (!detail::gActive.compare_exchange_strong(expected, impl.get()))
        throw HostError("a simulated host is already active in this process; only one Host may "
                        "exist at a time");
    impl_ = std::move(impl);
    effectAllocations_ = options.effectAllocations;
}

Host::~Host() {
    detail::HostState* mine = impl_.get();
    detail::gActive.compare_exchange_strong(mine, nullptr);
}

int Host::threads() const {
    return impl_->threads;
}

Faults& Host::faults() {
    return impl_->faults;
}

Host::Impl& Host::impl() {
    return *impl_;
}

bool inHostCallback() {
    return detail::InCallback::tCallbackDepth > 0;
}

HeldResources Host::held() const {
    HeldResources held;
    std::lock_guard lock(impl_->mutex);
    held.handles = static_cast<int>(impl_->handles.size());
    for (const auto& [handle, record] : impl_->handles)
        held.lockedHandles += record->locks > 0 ? 1 : 0;
    held.preRenderData = impl_->preRenderData;
    held.checkedOutParams = static_cast<int>(impl_->paramTokens.size());
    held.createdWorlds = static_cast<int>(impl_->created.size());
    held.checkedOutLayers = impl_->layersOut;
    held.effectAllocations = effectAllocations_ != nullptr ? effectAllocations_() : 0;
    for (std::size_t i = 0; i < detail::kSuiteIds.size(); ++i) {
        const SuiteCount& count = impl_->suites[i];
        if (count.acquired > count.released)
            held.suites[{detail::kSuiteIds[i].name, detail::kSuiteIds[i].version}] =
                count.acquired - count.released;
    }
    for (const auto& [text, times] : impl_->misuse)
        held.misuse.push_back(times == 1 ? text : text + " (" + std::to_string(times) + " times)");
    return held;
}

long Host::callCount(std::string_view callback) const {
    for (std::size_t i = 0; i < detail::kCbNames.size(); ++i) {
        if (detail::kCbNames[i] == callback)
            return impl_->calls[i].load();
    }
    return 0;
}

std::map<std::string, long> Host::callCounts() const {
    std::map<std::string, long> counts;
    for (std::size_t i = 0; i < detail::kCbNames.size(); ++i)
        counts[std::string(detail::kCbNames[i])] = impl_->calls[i].load();
    return counts;
}

std::map<std::pair<std::string, int>, SuiteCount> Host::suiteCounts() const {
    std::map<std::pair<std::string, int>, SuiteCount> counts;
    std::lock_guard lock(impl_->mutex);
    for (std::size_t i = 0; i < detail::kSuiteIds.size(); ++i)
        counts[{detail::kSuiteIds[i].name, detail::kSuiteIds[i].version}] = impl_->suites[i];
    return counts;
}

std::map<std::string, long> Host::callCountsDuring(PF_Cmd command) const {
    std::map<std::string, long> counts;
    if (!detail::countedCommand(command))
        return counts;
    const auto& during = impl_->callsDuring[static_cast<std::size_t>(command)];
    for (std::size_t i = 0; i < detail::kCbNames.size(); ++i) {
        if (const long n = during[i].load(); n != 0)
            counts[std::string(detail::kCbNames[i])] = n;
    }
    return counts;
}

std::map<std::pair<std::string, int>, int> Host::suitesAcquiredDuring(PF_Cmd command) const {
    std::map<std::pair<std::string, int>, int> counts;
    if (!detail::countedCommand(command))
        return counts;
    std::lock_guard lock(impl_->mutex);
    const auto& during = impl_->acquiredDuring[static_cast<std::size_t>(command)];
    for (std::size_t i = 0; i < detail::kSuiteIds.size(); ++i) {
        if (during[i] != 0)
            counts[{detail::kSuiteIds[i].name, detail::kSuiteIds[i].version}] = during[i];
    }
    return counts;
}

std::vector<std::string> Host::registeredNames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->registered;
}

std::vector<long> Host::iterationsPerThread() const {
    return impl_->pool.iterationsPerThread();
}

// ---- HeldResources --------------------------------------------------------------------------

bool HeldResources::empty() const {
    return handles == 0 && lockedHandles == 0 && preRenderData == 0 && checkedOutParams == 0 &&
           createdWorlds == 0 && checkedOutLayers == 0 && effectAllocations == 0 &&
           suites.empty() && misuse.empty();
}

namespace {
std::string plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}
} // namespace

std::string HeldResources::describe() const {
    std::vector<std::string> lines;
    if (handles != 0)
        lines.push_back(plural(handles, "handle", "handles") + " still allocated");
    if (lockedHandles != 0)
        lines.push_back(plural(lockedHandles, "handle", "handles") + " still locked");
    if (preRenderData != 0)
        lines.push_back(plural(preRenderData, "pre-render data", "pre-render data") +
                        " not given back to the effect's deletion function");
    if (checkedOutParams != 0)
        lines.push_back(plural(checkedOutParams, "parameter", "parameters") +
                        " checked out and not checked in");
    if (createdWorlds != 0)
        lines.push_back(plural(createdWorlds, "world", "worlds") +
                        " created by the effect and not disposed");
    if (checkedOutLayers != 0)
        lines.push_back(plural(checkedOutLayers, "layer", "layers") + " still checked out");
    if (effectAllocations != 0)
        lines.push_back(std::to_string(effectAllocations) +
                        " memory block(s) the effect allocated and did not free");
    for (const auto& [suite, count] : suites)
        lines.push_back("suite \"" + suite.first + "\" v" + std::to_string(suite.second) +
                        " acquired " + std::to_string(count) + " time(s) more than released");
    for (const std::string& m : misuse)
        lines.push_back("misuse: " + m);
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return text;
}

// ---- ParamRecord ----------------------------------------------------------------------------

ParamRecord::ParamRecord(const ParamRecord& other) : def(other.def), popupNames(other.popupNames) {
    if (def.param_type == PF_Param_POPUP && other.def.u.pd.u.namesptr != nullptr)
        def.u.pd.u.namesptr = popupNames.c_str();
}

ParamRecord& ParamRecord::operator=(const ParamRecord& other) {
    if (this != &other) {
        def = other.def;
        popupNames = other.popupNames;
        if (def.param_type == PF_Param_POPUP && other.def.u.pd.u.namesptr != nullptr)
            def.u.pd.u.namesptr = popupNames.c_str();
    }
    return *this;
}

// ---- errorName, commandName -----------------------------------------------------------------

std::string commandName(PF_Cmd cmd) {
    switch (cmd) {
    case PF_Cmd_ABOUT:
        return "PF_Cmd_ABOUT";
    case PF_Cmd_GLOBAL_SETUP:
        return "PF_Cmd_GLOBAL_SETUP";
    case PF_Cmd_GLOBAL_SETDOWN:
        return "PF_Cmd_GLOBAL_SETDOWN";
    case PF_Cmd_PARAMS_SETUP:
        return "PF_Cmd_PARAMS_SETUP";
    case PF_Cmd_RENDER:
        return "PF_Cmd_RENDER";
    case PF_Cmd_SMART_PRE_RENDER:
        return "PF_Cmd_SMART_PRE_RENDER";
    case PF_Cmd_SMART_RENDER:
        return "PF_Cmd_SMART_RENDER";
    default:
        return "command " + std::to_string(cmd);
    }
}

std::string errorName(PF_Err err) {
    switch (err) {
    case PF_Err_NONE:
        return "PF_Err_NONE (0)";
    case PF_Err_OUT_OF_MEMORY:
        return "PF_Err_OUT_OF_MEMORY (4)";
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
        return "PF_Err_INTERNAL_STRUCT_DAMAGED (512)";
    case PF_Err_BAD_CALLBACK_PARAM:
        return "PF_Err_BAD_CALLBACK_PARAM (516)";
    case kSPSuiteNotFoundError:
        return "kSPSuiteNotFoundError (" + std::to_string(kSPSuiteNotFoundError) + ")";
    default:
        return "PF_Err " + std::to_string(err);
    }
}

} // namespace OmbrelHost
