// Host worlds, instance data and the per-command records.
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "Host/HostState.h"

namespace OmbrelHost::detail {

int formatPixelBytes(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32:
    case PF_PixelFormat_BGRA32:
        return 4;
    case PF_PixelFormat_ARGB64:
        return 8;
    case PF_PixelFormat_ARGB128:
    case PF_PixelFormat_BGRA128:
        return 16;
    default:
        return 0;
    }
}

PF_PixelFormat depthFormat(Depth depth) {
    switch (depth) {
    case Depth::Bits8:
        return PF_PixelFormat_ARGB32;
    case Depth::Bits16:
        return PF_PixelFormat_ARGB64;
    case Depth::Bits32:
        return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

PF_PixelFormat worldFormat(Depth depth, WorldOrder order) {
    if (order == WorldOrder::Argb)
        return depthFormat(depth);
    switch (depth) {
    case Depth::Bits8:
        return PF_PixelFormat_BGRA32;
    case Depth::Bits32:
        return PF_PixelFormat_BGRA128;
    case Depth::Bits16:
        break;
    }
    throw HostError("the host has no BGRA worlds of 16 bits");
}

bool bgraFormat(PF_PixelFormat format) {
    return format == PF_PixelFormat_BGRA32 || format == PF_PixelFormat_BGRA128;
}

namespace {

// ARGB and BGRA are each other's reverse: reverses the channels of every pixel of a row.
void reverseChannels(std::uint8_t* row, std::size_t bytes, int pixelBytes) {
    const std::size_t channel = static_cast<std::size_t>(pixelBytes) / 4;
    for (std::uint8_t* p = row; p < row + bytes; p += pixelBytes) {
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t b = 0; b < channel; ++b)
                std::swap(p[i * channel + b], p[(3 - i) * channel + b]);
        }
    }
}

} // namespace

Depth formatDepth(PF_PixelFormat format) {
    switch (formatPixelBytes(format)) {
    case 8:
        return Depth::Bits16;
    case 16:
        return Depth::Bits32;
    default:
        return Depth::Bits8;
    }
}

void checkPadding(int padding, Depth depth, const char* what) {
    const int bytes = static_cast<int>(pixelBytes(depth));
    if (padding < 0 || padding % bytes != 0 || padding > (1 << 20))
        throw HostError(std::string(what) + " row padding " + std::to_string(padding) +
                        " bytes is not a multiple of the " + std::to_string(bytes) +
                        "-byte pixel (0..1 MiB)");
}

// ---- WorldBlocks ----------------------------------------------------------------------------

WorldBlocks::~WorldBlocks() {
    for (const auto& [bytes, block] : kept_)
        free(block);
}

std::uint8_t* WorldBlocks::take(std::size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->first == bytes) {
                std::uint8_t* block = it->second;
                keptBytes_ -= bytes;
                kept_.erase(it);
                return block;
            }
    }
    return allocate(bytes);
}

void WorldBlocks::give(std::uint8_t* block, std::size_t bytes) noexcept {
    std::lock_guard lock(mutex_);
    if (bytes > kKeepBytes) {
        free(block);
        return;
    }
    // The oldest go first to make room. Fewer than kKeep are left, and the constructor reserved
    // kKeep, so push_back does not allocate.
    while (!kept_.empty() && (kept_.size() >= kKeep || keptBytes_ + bytes > kKeepBytes)) {
        free(kept_.front().second);
        keptBytes_ -= kept_.front().first;
        kept_.erase(kept_.begin());
    }
    kept_.push_back({bytes, block});
    keptBytes_ += bytes;
}

std::uint8_t* WorldBlocks::allocate(std::size_t bytes) {
    return static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t(kAlignment)));
}

void WorldBlocks::free(std::uint8_t* block) noexcept {
    ::operator delete[](block, std::align_val_t(kAlignment));
}

// ---- WorldMemory ----------------------------------------------------------------------------

WorldMemory::WorldMemory(int width, int height, PF_PixelFormat format, int rowPadding, bool clear,
                         bool rowsLater, WorldBlocks* blocks)
    : width_(width), height_(height), format_(format), pixelBytes_(formatPixelBytes(format)),
      clear_(clear), blockSize_(0), block_(nullptr), blocks_(blocks) {
    rowBytes_ = static_cast<std::size_t>(width) * static_cast<std::size_t>(pixelBytes_) +
                static_cast<std::size_t>(rowPadding);
    blockSize_ = 2 * kGuard + rowBytes_ * static_cast<std::size_t>(height);
    block_ = blocks_ != nullptr ? blocks_->take(blockSize_) : WorldBlocks::allocate(blockSize_);
    std::memset(block_, kUntouchedByte, kGuard);
    std::memset(block_ + blockSize_ - kGuard, kUntouchedByte, kGuard);
    if (!rowsLater)
        fillRows(0, height);
}

void WorldMemory::fillRows(int top, int bottom) {
    fill(top, bottom, true);
}

void WorldMemory::fillPadding(int top, int bottom) {
    fill(top, bottom, false);
}

void WorldMemory::fill(int top, int bottom, bool pixelsToo) {
    const std::size_t pixels = static_cast<std::size_t>(width_) * pixelBytes_;
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = data() + static_cast<std::size_t>(y) * rowBytes_;
        if (pixelsToo)
            std::memset(row, clear_ ? 0 : kUntouchedByte, pixels);
        std::memset(row + pixels, kUntouchedByte, rowBytes_ - pixels);
    }
}

WorldMemory::~WorldMemory() {
    if (blocks_ != nullptr)
        blocks_->give(block_, blockSize_);
    else
        WorldBlocks::free(block_);
}

void WorldMemory::describe(PF_LayerDef& world) const {
    world.data = reinterpret_cast<PF_Pixel*>(data());
    world.rowbytes = static_cast<A_long>(rowBytes_);
    world.width = width_;
    world.height = height_;
    world.world_flags = formatPixelBytes(format_) == 8 ? PF_NewWorldFlag_DEEP_PIXELS : 0;
    world.host_private = const_cast<WorldMemory*>(this);
}

bool WorldMemory::outsideIntact() const {
    auto untouched = [](const std::uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] != kUntouchedByte)
                return false;
        }
        return true;
    };
    if (!untouched(block_, kGuard) || !untouched(block_ + blockSize_ - kGuard, kGuard))
        return false;
    const std::size_t pixels = static_cast<std::size_t>(width_) * pixelBytes_;
    for (int y = 0; y < height_; ++y) {
        if (!untouched(data() + static_cast<std::size_t>(y) * rowBytes_ + pixels,
                       rowBytes_ - pixels))
            return false;
    }
    return true;
}

// A world without columns has rows of padding only, and its image no pixel memory to copy.
void WorldMemory::copyFrom(const Image& image) {
    copyRowsFrom(image, 0, height_);
}

void WorldMemory::copyRowsFrom(const Image& image, int top, int bottom) {
    const std::size_t pixels = static_cast<std::size_t>(width_) * pixelBytes_;
    if (pixels == 0)
        return;
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = data() + static_cast<std::size_t>(y) * rowBytes_;
        std::memcpy(row, image.pixels.data() + static_cast<std::size_t>(y) * pixels, pixels);
        if (bgraFormat(format_))
            reverseChannels(row, pixels, pixelBytes_);
    }
}

Image WorldMemory::toImage(Depth depth) const {
    Image image(width_, height_, depth);
    const std::size_t pixels = static_cast<std::size_t>(width_) * pixelBytes_;
    if (pixels == 0)
        return image;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * pixels;
        std::memcpy(row, data() + static_cast<std::size_t>(y) * rowBytes_, pixels);
        if (bgraFormat(format_))
            reverseChannels(row, pixels, pixelBytes_);
    }
    return image;
}

bool WorldMemory::equals(const Image& image) const {
    const std::size_t pixels = static_cast<std::size_t>(width_) * pixelBytes_;
    if (pixels == 0)
        return true;
    if (bgraFormat(format_))
        return toImage(image.depth) == image;
    for (int y = 0; y < height_; ++y) {
        if (std::memcmp(data() + static_cast<std::size_t>(y) * rowBytes_,
                        image.pixels.data() + static_cast<std::size_t>(y) * pixels, pixels) != 0)
            return false;
    }
    return true;
}

// ---- Instance -------------------------------------------------------------------------------

void Instance::setPopup(int value, A_Time from) {
    if (from.scale == 0)
        throw HostError("popup time has a time scale of 0");
    std::lock_guard lock(mutex);
    popup.insert_or_assign(from, value);
}

int Instance::popupAt(A_Time time) const {
    std::lock_guard lock(mutex);
    auto it = popup.upper_bound(time);
    if (it != popup.begin())
        return std::prev(it)->second;
    for (const ParamRecord& p : params) {
        if (p.def.param_type == PF_Param_POPUP)
            return p.def.u.pd.value;
    }
    return 1;
}

int Instance::paramCount() const {
    std::lock_guard lock(mutex);
    return 1 + static_cast<int>(params.size());
}

// ---- CommandFrame ---------------------------------------------------------------------------

CommandFrame::CommandFrame(HostState& h, Instance& instance, PF_Cmd cmd)
    : host(h), basic(makeBasicSuite()), utils(makeUtilCallbacks()) {
    ctx.instance = &instance;
    ctx.cmd = cmd;
    in.inter = makeInteractCallbacks();
    in.utils = &utils;
    in.effect_ref = toEffectRef(&ctx);
    in.num_params = instance.paramCount();
    in.current_time = 0;
    in.time_step = 1;
    in.time_scale = 1;
    in.downsample_x = {1, 1};
    in.downsample_y = {1, 1};
    in.pica_basicP = &basic;
    resetOut();
    host.addContext(&ctx);
}

CommandFrame::~CommandFrame() {
    host.removeContext(&ctx);
    returnLayers();
    if (inputMemory)
        host.removeWorld(inputMemory.get());
    if (outputMemory)
        host.removeWorld(outputMemory.get());
}

void CommandFrame::resetOut() {
    out = PF_OutData{};
    out.out_flags = host.faults.presetOutFlags;
    out.out_flags2 = host.faults.presetOutFlags2;
}

namespace {

// Runs fill(world, top, bottom) over the rows of world in one band per pool thread, band i of n
// being rows i h / n up to (i + 1) h / n as the effect splits its frames, and band 0 on this
// thread. A real host hands the effect worlds it made, wrote and reused on its render threads;
// a world written here on one thread alone would reach the effect's bands cached on that one
// core, and the bands on the other threads ran 15 to 25 % slower reading it.
template <class Fill>
void fillInBands(HostState& host, WorldMemory& world, Fill fill) {
    struct Job {
        WorldMemory* world;
        Fill* fill;
    } job{&world, &fill};
    const auto band = [](void* refcon, A_long, A_long i, A_long n) -> PF_Err {
        const Job& j = *static_cast<const Job*>(refcon);
        const std::int64_t h = j.world->height();
        (*j.fill)(*j.world, static_cast<int>(i * h / n), static_cast<int>((i + 1) * h / n));
        return PF_Err_NONE;
    };
    bool threw = false;
    host.pool.run(host.pool.threads(), &job, band, threw, true);
    if (threw)
        throw HostError("filling a world in bands failed");
}

} // namespace

void CommandFrame::setInput(const Image& image, int padding, WorldOrder order) {
    checkPadding(padding, image.depth, "input");
    if (image.width < 0 || image.height < 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) *
                                   static_cast<std::size_t>(image.height) * pixelBytes(image.depth))
        throw HostError("input image of " + std::to_string(image.width) + "x" +
                        std::to_string(image.height) + " pixels holds " +
                        std::to_string(image.pixels.size()) + " bytes, not its size");
    if (static_cast<std::size_t>(image.width) * pixelBytes(image.depth) + padding >
        static_cast<std::size_t>(std::numeric_limits<A_long>::max()))
        throw HostError("input image is too wide for a host world");
    inputMemory =
        std::make_unique<WorldMemory>(image.width, image.height, worldFormat(image.depth, order),
                                      padding, false, true, &host.worldBlocks);
    fillInBands(host, *inputMemory, [&image](WorldMemory& world, int top, int bottom) {
        world.copyRowsFrom(image, top, bottom);
        world.fillPadding(top, bottom);
    });
    inputMemory->describe(ctx.inputWorld);
    ctx.input = inputMemory.get();
    host.addWorld(inputMemory.get());
    in.width = image.width;
    in.height = image.height;
}

void CommandFrame::setOutput(int width, int height, PF_PixelFormat format, int padding) {
    if (outputMemory) // a frame rendered again gets a new output world
        host.removeWorld(outputMemory.get());
    outputMemory = std::make_unique<WorldMemory>(width, height, format, padding, false, true,
                                                 &host.worldBlocks);
    fillInBands(host, *outputMemory,
                [](WorldMemory& world, int top, int bottom) { world.fillRows(top, bottom); });
    outputMemory->frameOutput = true;
    outputMemory->describe(ctx.outputWorld);
    ctx.output = outputMemory.get();
    ctx.createdWorldPadding = padding;
    host.addWorld(outputMemory.get());
}

void CommandFrame::returnLayers() {
    int pending = 0;
    {
        std::lock_guard lock(ctx.mutex);
        for (const auto& [id, times] : ctx.layersOut)
            pending += times;
        ctx.layersOut.clear();
    }
    if (pending != 0) {
        std::lock_guard lock(host.mutex);
        host.layersOut -= pending;
    }
}

} // namespace OmbrelHost::detail
