// Megapixels per second of the conversion filter on a 3840 x 2160 frame of random colours with
// alpha, per depth and conversion: the filter alone on each kernel path (one thread), the whole
// frame through the simulated host at 1 and 2 threads, OpenCV's cvtColor on the same colours
// (8U and 32F, one thread, three channels and where it accepts them four), a memcpy of the same
// bytes and the roofline: the same bytes copied with ordinary stores into a warm destination and
// with streaming stores, on one and two threads. After the runs it prints tables with the ratios,
// "ours" being the whole frame through the host, so that the machine's drift between runs cancels
// out, and the targets judged for the path the module chose (OMBREL_KERNEL=avx2 forces AVX2).
//
//   build/bench/ombrel_bench [--raw=PATH ...] [--benchmark_filter=REGEX] [--benchmark_min_time=S]
//
// --raw=PATH takes a depth's frame from a file of ombrel-render's raw pixels (3840 x 2160 ARGB
// records: 4, 8 or 16 bytes each, which tells the depth) instead of random colours, so that every
// row, OpenCV's included, converts the same pixels as an ombrel-render run on that file; OpenCV's
// 8U rows take the 8-bit frame. Once per depth.
//
// Wall-clock time throughout: the host runs are timed from pre-render to the end of smart render,
// as ombrel-render --repeat reports them.
#include <benchmark/benchmark.h>

#include <emmintrin.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Ombrel/Filter/Kernels/KernelPath.h"
#include "Ombrel/Filter/Kernels/RowKernels.h"
#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"

#if OMBREL_BENCH_HOST
#include "Host/OmbrelHost.h"
#endif
#if OMBREL_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using Ombrel::ColorSpaceConversion;
using Ombrel::Kernels::Path;
using Type = ColorSpaceConversion::Parameter::Type;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
constexpr int kResidentRows = 2; // of the cache-resident runs
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

const char* const kDepthNames[] = {"8-bit", "16-bit", "32-bit"};
// Popup values 1..kTypes, one per row of the effect's table.
constexpr int kTypes = static_cast<int>(Ombrel::kConversionCount);
// RGB to HLS, whose scalar code is the most arithmetic per byte: its two-thread scaling is what
// the machine allows work that memory does not limit.
constexpr int kScalingType = 3;

// The popup entry of a conversion type.
const char* typeName(int type) {
    return Ombrel::kConversions[Ombrel::conversionIndex(type)].name;
}
const int kPixelBytes[] = {4, 8, 16};

// Bytes that start on a cache line, as the host's worlds and OpenCV's images do: a buffer 16
// bytes off a 32-byte boundary (what a plain vector of this size gets) splits half of all 32-byte
// accesses across two lines and would slow our rows alone.
constexpr std::align_val_t kCacheLine{64};
template <class T>
struct CacheLineAllocator {
    using value_type = T;
    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}
    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), kCacheLine));
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p, kCacheLine); }
    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const {
        return true;
    }
    template <class U>
    bool operator!=(const CacheLineAllocator<U>&) const {
        return false;
    }
};
using Bytes = std::vector<std::uint8_t, CacheLineAllocator<std::uint8_t>>;

// One frame per depth, random colours and alpha in the depth's range, made once, or a --raw file.
struct Frame {
    Bytes bytes;
    PF_LayerDef def{};
};

// The --raw file of each depth, empty for random colours.
std::string rawFiles[3];

// Reads --raw=PATH options out of argv (before the benchmark library sees it). False, with the
// reason on stderr, for a file that cannot be read or whose size is no depth's frame.
bool takeRawOptions(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--raw=", 0) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        const std::string path = arg.substr(6);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        long size = -1;
        if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0)
            size = std::ftell(file);
        if (file != nullptr)
            std::fclose(file);
        int depth = -1;
        for (int d = 0; d < 3; ++d)
            if (size == long(kPixelBytes[d]) * kWidth * kHeight)
                depth = d;
        if (depth < 0) {
            std::fprintf(stderr, "--raw=%s: %s\n", path.c_str(),
                         size < 0 ? "cannot be read"
                                  : "not a 3840x2160 frame of 4, 8 or 16 bytes a pixel");
            return false;
        }
        if (!rawFiles[depth].empty()) {
            std::fprintf(stderr, "--raw=%s: a second file for the %s frame\n", path.c_str(),
                         kDepthNames[depth]);
            return false;
        }
        rawFiles[depth] = path;
    }
    argc = kept;
    argv[argc] = nullptr;
    return true;
}

const Frame& frame(int depth) {
    static std::unique_ptr<Frame> frames[3];
    std::unique_ptr<Frame>& f = frames[depth];
    if (!f) {
        f = std::make_unique<Frame>();
        f->bytes.resize(std::size_t(kPixelBytes[depth]) * kWidth * kHeight);
        std::mt19937 rng(1);
        if (!rawFiles[depth].empty()) {
            std::FILE* file = std::fopen(rawFiles[depth].c_str(), "rb");
            const bool read = file != nullptr && std::fread(f->bytes.data(), 1, f->bytes.size(),
                                                            file) == f->bytes.size();
            if (file != nullptr)
                std::fclose(file);
            if (!read) {
                std::fprintf(stderr, "--raw=%s: read failed\n", rawFiles[depth].c_str());
                std::exit(1);
            }
        } else if (depth == 0) {
            for (auto& b : f->bytes)
                b = static_cast<std::uint8_t>(rng());
        } else if (depth == 1) {
            auto* p = reinterpret_cast<std::uint16_t*>(f->bytes.data());
            for (std::size_t i = 0; i < f->bytes.size() / 2; ++i)
                p[i] = static_cast<std::uint16_t>(rng() % 32769);
        } else {
            auto* p = reinterpret_cast<float*>(f->bytes.data());
            for (std::size_t i = 0; i < f->bytes.size() / 4; ++i)
                p[i] = static_cast<float>(rng() % 65536) / 65535.0f;
        }
        f->def.data = reinterpret_cast<PF_Pixel*>(f->bytes.data());
        f->def.rowbytes = kPixelBytes[depth] * kWidth;
        f->def.width = kWidth;
        f->def.height = kHeight;
    }
    return *f;
}

Ombrel::BPC bpcOf(int depth) {
    return depth == 0 ? Ombrel::BPC_8 : depth == 1 ? Ombrel::BPC_16 : Ombrel::BPC_32;
}

// The filter over the test frame of a depth into an output of the same shape, which is touched
// (written) before any run, as a host's reused worlds are. Not movable: the layers point into it.
struct FilterOnFrame {
    FilterOnFrame(int depth, int type)
        : src(frame(depth)), out(src.bytes.size(), 1), srcDef(src.def),
          dstDef(withData(src.def, out.data())), input(&in, &outData, &srcDef, bpcOf(depth)),
          output(&in, &outData, &dstDef, bpcOf(depth)),
          filter(ColorSpaceConversion::Parameter().setType(static_cast<Type>(type))) {}
    FilterOnFrame(const FilterOnFrame&) = delete;
    FilterOnFrame& operator=(const FilterOnFrame&) = delete;

    static PF_LayerDef withData(PF_LayerDef def, std::uint8_t* data) {
        def.data = reinterpret_cast<PF_Pixel*>(data);
        return def;
    }

    const Frame& src;
    Bytes out;
    PF_LayerDef srcDef, dstDef;
    PF_InData in{};
    PF_OutData outData{};
    Ombrel::Layer input, output;
    ColorSpaceConversion filter;
};

using Stores = ColorSpaceConversion::Stores;

// Runs the filter over region on one path, one thread, again and again.
void timeFilter(benchmark::State& state, FilterOnFrame& f, const Ombrel::Rect& region, Path path,
                Stores stores) {
    for (auto _ : state) {
        f.filter.executeOnPath(f.input, f.output, region, path, stores);
        benchmark::DoNotOptimize(f.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * region.getWidth() *
                            region.getHeight());
}

// The filter alone on one path, the whole frame as one region, stores chosen by its size.
void kernelBench(benchmark::State& state, int depth, int type, Path path) {
    FilterOnFrame f(depth, type);
    timeFilter(state, f, f.input.getSize(), path, Stores::BySize);
}

// The filter alone on one path over the frame's first two rows (7680 pixels, at most 123 KB in
// and as much out): the arithmetic's speed with the rows in L2, apart from the memory's.
// Ordinary stores.
void residentBench(benchmark::State& state, int depth, int type, Path path) {
    FilterOnFrame f(depth, type);
    timeFilter(state, f, Ombrel::Rect(0, 0, kWidth, kResidentRows), path, Stores::Ordinary);
}

// The first `rows` rows of a frame on the path the module chooses, with ordinary or streaming
// stores into a warm destination: where streaming stores start to pay, by the bytes the region
// moves (in and out).
void storesBench(benchmark::State& state, int depth, int type, int rows, Stores stores) {
    FilterOnFrame f(depth, type);
    timeFilter(state, f, Ombrel::Rect(0, 0, kWidth, rows), Ombrel::Kernels::choosePath().path,
               stores);
    state.counters["MB"] = 2.0 * kPixelBytes[depth] * kWidth * rows / 1e6;
}
constexpr int kStoresRows[] = {68, 136, 273, 546, 1092, 2160};

// A second thread kept for the two-thread runs of the roofline and the scalar kernel, so that no
// run pays for starting one.
class Helper {
public:
    Helper() : thread_([this] { loop(); }) {}
    ~Helper() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Runs mine here and theirs on the helper thread, and returns when both are done.
    void run(const std::function<void()>& mine, const std::function<void()>& theirs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = &theirs;
        }
        wake_.notify_all();
        mine();
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return job_ == nullptr; });
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || job_ != nullptr; });
            if (stop_)
                return;
            lock.unlock();
            (*job_)();
            lock.lock();
            job_ = nullptr;
            done_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void()>* job_ = nullptr;
    bool stop_ = false;
    std::thread thread_;
};

Helper& helper() {
    static Helper h;
    return h;
}

// The scalar path on two threads, each converting half the rows: the scaling of work that is
// limited by arithmetic, not memory.
void kernelTwoThreadBench(benchmark::State& state, int depth, int type, Path path) {
    FilterOnFrame f(depth, type);
    const Ombrel::Rect top(0, 0, kWidth, kHeight / 2), bottom(0, kHeight / 2, kWidth, kHeight);
    for (auto _ : state) {
        helper().run([&] { f.filter.executeOnPath(f.input, f.output, top, path); },
                     [&] { f.filter.executeOnPath(f.input, f.output, bottom, path); });
        benchmark::DoNotOptimize(f.out.data());
        benchmark::ClobberMemory();
    }
}

// n bytes (a multiple of 64, both pointers 16-byte aligned) with ordinary or streaming stores.
// Streaming stores write whole lines without reading them first; the fence orders them before
// anything the caller does next.
void copyBytes(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, bool streaming) {
    const auto* s = reinterpret_cast<const __m128i*>(src);
    auto* d = reinterpret_cast<__m128i*>(dst);
    for (std::size_t i = 0; i < n / 16; i += 4) {
        const __m128i a = _mm_load_si128(s + i), b = _mm_load_si128(s + i + 1);
        const __m128i c = _mm_load_si128(s + i + 2), e = _mm_load_si128(s + i + 3);
        if (streaming) {
            _mm_stream_si128(d + i, a);
            _mm_stream_si128(d + i + 1, b);
            _mm_stream_si128(d + i + 2, c);
            _mm_stream_si128(d + i + 3, e);
        } else {
            _mm_store_si128(d + i, a);
            _mm_store_si128(d + i + 1, b);
            _mm_store_si128(d + i + 2, c);
            _mm_store_si128(d + i + 3, e);
        }
    }
    if (streaming)
        _mm_sfence();
}

// The roofline: the frame's bytes copied into a destination made and touched before the runs and
// reused by each, on one thread or split in two halves on two.
void rooflineBench(benchmark::State& state, int depth, bool streaming, int threads) {
    const Frame& src = frame(depth);
    const std::size_t n = src.bytes.size();
    Bytes out(n, 1);
    const std::size_t half = n / 2 / 64 * 64;
    for (auto _ : state) {
        if (threads == 1)
            copyBytes(src.bytes.data(), out.data(), n, streaming);
        else
            helper().run([&] { copyBytes(src.bytes.data(), out.data(), half, streaming); },
                         [&] {
                             copyBytes(src.bytes.data() + half, out.data() + half, n - half,
                                       streaming);
                         });
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void copyBench(benchmark::State& state, int depth) {
    const Frame& src = frame(depth);
    Bytes out(src.bytes.size());
    for (auto _ : state) {
        std::memcpy(out.data(), src.bytes.data(), src.bytes.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

#if OMBREL_BENCH_HOST
// Whole frames through the built module in the simulated host: pre-render and smart render, the
// bands on the host's worker threads.
void hostBench(benchmark::State& state, int depth, int type, int threads) {
    using namespace OmbrelHost;
    const Frame& src = frame(depth);
    Image image(kWidth, kHeight,
                depth == 0   ? Depth::Bits8
                : depth == 1 ? Depth::Bits16
                             : Depth::Bits32);
    image.pixels.assign(src.bytes.begin(), src.bytes.end());
    Host host(HostOptions{threads});
    Effect effect(host, Module::load(OMBREL_MODULE_PATH));
    if (effect.globalSetup().err != PF_Err_NONE || effect.paramsSetup().err != PF_Err_NONE) {
        state.SkipWithError("the module's setup failed");
        return;
    }
    effect.setPopup(type);
    FrameRequest request;
    request.input = &image;
    for (auto _ : state) {
        const FrameResult result = effect.render(request);
        if (result.err() != PF_Err_NONE) {
            state.SkipWithError("the frame failed");
            break;
        }
        state.SetIterationTime(result.renderSeconds);
    }
    effect.globalSetdown();
}
#endif

#if OMBREL_BENCH_OPENCV
// OpenCV's nearest conversion for each type of the effect's table, in order; a type past the end
// has none and its OpenCV cells stay empty.
constexpr int kOpenCvCodes[] = {cv::COLOR_RGB2YUV,      cv::COLOR_YUV2RGB,
                                cv::COLOR_RGB2HLS_FULL, cv::COLOR_HLS2RGB_FULL,
                                cv::COLOR_RGB2HSV_FULL, cv::COLOR_HSV2RGB_FULL};
constexpr int kOpenCvTypes = static_cast<int>(sizeof(kOpenCvCodes) / sizeof(kOpenCvCodes[0]));

// OpenCV's nearest conversions on the same colours, one thread. Not the same formulas (OpenCV's
// YUV weights differ, its 8-bit hue is scaled to 0..255): a yardstick. With four = false, three
// interleaved channels in and out; with four = true alpha's bytes are counted as ours are, as
// far as cvtColor allows: a forward conversion reads RGBA (and writes three channels), a backward
// one writes four channels (and reads three).
void openCvBench(benchmark::State& state, int depth, int type, bool four) {
    const bool isFloat = depth == 2;
    const bool forward = type % 2 == 1;
    const int inChannels = four && forward ? 4 : 3;
    const int outChannels = four && !forward ? 4 : 0; // 0: as many as the code gives
    const Frame& f = frame(depth);
    cv::Mat src(kHeight, kWidth, CV_MAKETYPE(isFloat ? CV_32F : CV_8U, inChannels)), dst;
    // Float hues run in degrees.
    const float hue = type == 4 || type == 6 ? 360.0f : 1.0f;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const std::size_t i = std::size_t(y) * kWidth + std::size_t(x);
            for (int c = 0; c < inChannels; ++c) {
                const int from = c == 3 ? 0 : c + 1; // alpha last
                if (isFloat)
                    src.ptr<float>(y)[x * inChannels + c] =
                        reinterpret_cast<const float*>(f.bytes.data())[4 * i + from] *
                        (c == 0 ? hue : 1.0f);
                else
                    src.ptr<std::uint8_t>(y)[x * inChannels + c] = f.bytes[4 * i + from];
            }
        }
    cv::setNumThreads(1);
    try {
        cv::cvtColor(src, dst, kOpenCvCodes[type - 1], outChannels); // the first call sets up
    } catch (const cv::Exception&) {
        state.SkipWithError("cvtColor refuses this form");
        return;
    }
    for (auto _ : state) {
        cv::cvtColor(src, dst, kOpenCvCodes[type - 1], outChannels);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
}
#endif

// Seconds per iteration of each finished run, by name; with --benchmark_repetitions the best
// repetition (on a busy machine the others count other processes' turns).
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0 && run.run_type == Run::RT_Iteration) {
                const double n = static_cast<double>(run.iterations);
                keepBest(seconds, run.run_name.function_name, run.real_accumulated_time / n);
                keepBest(cpuSeconds, run.run_name.function_name, run.cpu_accumulated_time / n);
            }
    }
    // Megapixels per second of a run, 0 when it did not run.
    double mps(const std::string& name) const { return rate(seconds, name); }
    // The same from the thread's CPU time: single-threaded runs only.
    double cpuMps(const std::string& name) const { return rate(cpuSeconds, name); }
    std::map<std::string, double> seconds, cpuSeconds;

private:
    static void keepBest(std::map<std::string, double>& times, const std::string& name, double t) {
        const auto it = times.find(name);
        if (it == times.end() || t < it->second)
            times[name] = t;
    }
    static double rate(const std::map<std::string, double>& times, const std::string& name) {
        const auto it = times.find(name);
        return it == times.end() || it->second <= 0 ? 0.0 : kMegapixels / it->second;
    }
};

// kind: "kernel" (the whole frame) or "resident" (its first rows).
std::string pathBenchName(const char* kind, int depth, int type, Path path) {
    return std::string(kind) + "/" + kDepthNames[depth] + "/" + typeName(type) + "/" +
           Ombrel::Kernels::pathName(path);
}
std::string kernelName(int depth, int type, Path path) {
    return pathBenchName("kernel", depth, type, path);
}
std::string hostName(int depth, int type, int threads) {
    return std::string("host/") + kDepthNames[depth] + "/" + typeName(type) + "/" +
           std::to_string(threads) + " threads";
}
// Three channels, or four (the name's "opencv4/").
std::string openCvName(int depth, int type, bool four = false) {
    return std::string(four ? "opencv4/" : "opencv/") + (depth == 2 ? "32F/" : "8U/") +
           typeName(type);
}
std::string rooflineName(int depth, bool streaming, int threads) {
    return std::string("roofline/") + kDepthNames[depth] +
           (streaming ? "/streaming/" : "/ordinary/") + std::to_string(threads) + " threads";
}
// YUV to RGB, the cheapest arithmetic per byte.
constexpr int kStoresType = 2;
std::string storesName(int depth, int rows, Stores stores) {
    return std::string("stores/") + kDepthNames[depth] + "/" + typeName(kStoresType) + "/" +
           std::to_string(rows) + " rows/" +
           (stores == Stores::Streaming ? "streaming" : "ordinary");
}
std::string kernelTwoThreadName(int depth, int type, Path path) {
    return kernelName(depth, type, path) + "/2 threads";
}
std::string copyName(int depth) {
    return std::string("copy/") + kDepthNames[depth];
}

std::string cell(double v, const char* format = "%.0f") {
    if (v <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}
std::string ratio(double a, double b) {
    return a > 0 && b > 0 ? cell(a / b, "%.2f") : "-";
}

// The load average, for judging the figures: they are wall-clock times.
std::string loadAverage() {
    std::string text = "unknown";
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, f) != nullptr) {
            text = line;
            text = text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
        }
        std::fclose(f);
    }
    return text;
}

// The roofline of a depth on 1 or 2 threads: the faster copy of the frame's bytes, with ordinary
// or with streaming stores. 0 when neither ran.
double roofline(const TableReporter& r, int depth, int threads) {
    return std::max(r.mps(rooflineName(depth, false, threads)),
                    r.mps(rooflineName(depth, true, threads)));
}

// OpenCV's faster form (three or four channels) of a conversion; at 16 bits the 8U figure.
double bestOpenCv(const TableReporter& r, int depth, int type) {
    const int cvDepth = depth == 1 ? 0 : depth;
    return std::max(r.mps(openCvName(cvDepth, type)), r.mps(openCvName(cvDepth, type, true)));
}

const char* verdict(double reached, double target) {
    return reached <= 0 || target <= 0 ? "-" : reached >= target ? "yes" : "no";
}

void printStores(const TableReporter& r) {
    std::printf("\nOrdinary against streaming stores, %s on the first rows of each frame, "
                "milliseconds (wall clock):\n\n",
                typeName(kStoresType));
    std::printf("| depth | rows | MB in and out | ordinary | streaming | streaming/ordinary "
                "|\n|---|---|---|---|---|---|\n");
    // Only the 32-bit kernels have streaming stores.
    for (int depth : {2})
        for (int rows : kStoresRows) {
            const auto ms = [&](Stores stores) {
                const auto it = r.seconds.find(storesName(depth, rows, stores));
                return it == r.seconds.end() ? 0.0 : it->second * 1e3;
            };
            const double ordinary = ms(Stores::Ordinary), streaming = ms(Stores::Streaming);
            if (ordinary <= 0 && streaming <= 0)
                continue;
            std::printf("| %s | %d | %.1f | %s | %s | %s |\n", kDepthNames[depth], rows,
                        2.0 * kPixelBytes[depth] * kWidth * rows / 1e6,
                        cell(ordinary, "%.2f").c_str(), cell(streaming, "%.2f").c_str(),
                        ratio(streaming, ordinary).c_str());
        }
}

void printRoofline(const TableReporter& r) {
    std::printf("\nRoofline: the frame's bytes copied into a warm, reused destination, megapixels "
                "per second; the faster store of each thread count is the limit.\n\n");
    std::printf("| depth | memcpy | ordinary 1T | streaming 1T | ordinary 2T | streaming 2T | "
                "limit 1T | limit 2T | 2T/1T |\n|---|---|---|---|---|---|---|---|---|\n");
    for (int depth = 0; depth < 3; ++depth)
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", kDepthNames[depth],
                    cell(r.mps(copyName(depth))).c_str(),
                    cell(r.mps(rooflineName(depth, false, 1))).c_str(),
                    cell(r.mps(rooflineName(depth, true, 1))).c_str(),
                    cell(r.mps(rooflineName(depth, false, 2))).c_str(),
                    cell(r.mps(rooflineName(depth, true, 2))).c_str(),
                    cell(roofline(r, depth, 1)).c_str(), cell(roofline(r, depth, 2)).c_str(),
                    ratio(roofline(r, depth, 2), roofline(r, depth, 1)).c_str());
}

// The targets for the path the module chose, conversion by conversion, through the host: at
// least OpenCV's faster form (8-bit YUV 1.5x it; 16 bits against 8U); memory-bound frames (every
// 32-bit one, and any other whose kernel alone reaches 80 % of the roofline) at least 90 % of the
// roofline; two threads at least 90 % of what the machine allows, the lower of one thread times
// the scalar path's own two-thread scaling and the two-thread roofline.
void printTargets(const TableReporter& r, Path chosen) {
    const double scalarOne = r.mps(kernelName(0, kScalingType, Path::Scalar));
    const double scalarTwo = r.mps(kernelTwoThreadName(0, kScalingType, Path::Scalar));
    const double scalarScaling = scalarOne > 0 && scalarTwo > 0 ? scalarTwo / scalarOne : 0;
    std::printf("\nAgainst OpenCV and the roofline, the module on the %s path (ours = the whole "
                "frame through the host). Two-thread scaling of the scalar path (8-bit %s): %s; "
                "of the copy: %s.\n\n",
                Ombrel::Kernels::pathName(chosen), typeName(kScalingType),
                cell(scalarScaling, "%.2f").c_str(),
                ratio(roofline(r, 1, 2), roofline(r, 1, 1)).c_str());
    std::printf("| depth | conversion | kernel | ours 1T | ours 2T | OpenCV 3ch | OpenCV 4ch | "
                "ours/OpenCV | 1T/roofline | 2T/roofline | 2T/allowed | >= OpenCV | memory-bound "
                "| >= 90 %% roofline | 2T >= 90 %% allowed |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int depth = 0; depth < 3; ++depth)
        for (int type = 1; type <= kTypes; ++type) {
            const int cvDepth = depth == 1 ? 0 : depth;
            const double kernel = r.mps(kernelName(depth, type, chosen));
            const double one = r.mps(hostName(depth, type, 1));
            const double two = r.mps(hostName(depth, type, 2));
            const double cv = bestOpenCv(r, depth, type);
            const double roof1 = roofline(r, depth, 1), roof2 = roofline(r, depth, 2);
            const double allowed =
                scalarScaling > 0 && roof2 > 0 ? std::min(one * scalarScaling, roof2) : 0;
            const bool yuv8 = depth == 0 && type <= 2;
            const bool memoryBound = depth == 2 || (roof1 > 0 && kernel >= 0.8 * roof1);
            std::printf(
                "| %s | %s | %s | %s | %s | %s | %s%s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                kDepthNames[depth], typeName(type), cell(kernel).c_str(), cell(one).c_str(),
                cell(two).c_str(), cell(r.mps(openCvName(cvDepth, type))).c_str(),
                cell(r.mps(openCvName(cvDepth, type, true))).c_str(),
                depth == 1 && cv > 0 ? " (8U)" : "", ratio(one, cv).c_str(),
                ratio(one, roof1).c_str(), ratio(two, roof2).c_str(), ratio(two, allowed).c_str(),
                verdict(one, (yuv8 ? 1.5 : 1.0) * cv), memoryBound ? "yes" : "no",
                memoryBound ? verdict(one, 0.9 * roof1) : "-", verdict(two, 0.9 * allowed));
        }
}

void printTable(const TableReporter& r, const std::string& loadBefore) {
    std::string colours;
    for (int d = 0; d < 3; ++d)
        colours += std::string(", ") + kDepthNames[d] + ": " +
                   (rawFiles[d].empty() ? "random colours with alpha" : rawFiles[d]);
    std::printf("\nMegapixels per second, %d x %d%s. \"ours\" is the whole frame through the "
                "host on 1 thread.\n\n",
                kWidth, kHeight, colours.c_str());
    std::printf("| depth | conversion |");
    for (Path p : Ombrel::Kernels::kPaths)
        std::printf(" %s |", Ombrel::Kernels::pathName(p));
    std::printf(
        " host 1T | host 2T | 2T/1T | OpenCV | ours/OpenCV | copy | ours/copy |\n|---|---|");
    for (std::size_t i = 0; i < std::size(Ombrel::Kernels::kPaths); ++i)
        std::printf("---|");
    std::printf("---|---|---|---|---|---|---|\n");
    for (int depth = 0; depth < 3; ++depth)
        for (int type = 1; type <= kTypes; ++type) {
            std::printf("| %s | %s |", kDepthNames[depth], typeName(type));
            for (Path p : Ombrel::Kernels::kPaths)
                std::printf(" %s |", cell(r.mps(kernelName(depth, type, p))).c_str());
            const double one = r.mps(hostName(depth, type, 1)),
                         two = r.mps(hostName(depth, type, 2));
            const double cv =
                depth == 1 ? r.mps(openCvName(0, type)) : r.mps(openCvName(depth, type));
            const double copy = r.mps(copyName(depth));
            std::printf(" %s | %s | %s | %s%s | %s | %s | %s |\n", cell(one).c_str(),
                        cell(two).c_str(), ratio(two, one).c_str(), cell(cv).c_str(),
                        depth == 1 && cv > 0 ? " (8U)" : "", ratio(one, cv).c_str(),
                        cell(copy).c_str(), ratio(one, copy).c_str());
        }
    // On a busy machine wall-clock time counts other processes' turns too; the single-threaded
    // runs' CPU time does not.
    const Path best = Ombrel::Kernels::choosePath().path;
    std::printf("\nThe same single-threaded runs in CPU time (the kernel on the %s path, the one "
                "the module chooses):\n\n",
                Ombrel::Kernels::pathName(best));
    std::printf("| depth | conversion | kernel | OpenCV | kernel/OpenCV | copy | kernel/copy |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (int depth = 0; depth < 3; ++depth)
        for (int type = 1; type <= kTypes; ++type) {
            const double k = r.cpuMps(kernelName(depth, type, best));
            const double cv = r.cpuMps(openCvName(depth == 1 ? 0 : depth, type));
            const double copy = r.cpuMps(copyName(depth));
            std::printf("| %s | %s | %s | %s%s | %s | %s | %s |\n", kDepthNames[depth],
                        typeName(type), cell(k).c_str(), cell(cv).c_str(),
                        depth == 1 && cv > 0 ? " (8U)" : "", ratio(k, cv).c_str(),
                        cell(copy).c_str(), ratio(k, copy).c_str());
        }
    printRoofline(r);
    printStores(r);
    printTargets(r, Ombrel::Kernels::choosePath().path);
    std::printf("\nLoad average (1, 5, 15 min) before the run: %s; after: %s\n", loadBefore.c_str(),
                loadAverage().c_str());
    std::printf("Kernel path the module chooses here: %s (%s)\n",
                Ombrel::Kernels::pathName(Ombrel::Kernels::choosePath().path),
                Ombrel::Kernels::choosePath().reason);
}

} // namespace

int main(int argc, char** argv) {
    // Only the 32-bit kernels have streaming stores.
    for (int depth : {2})
        for (int rows : kStoresRows)
            for (Stores stores : {Stores::Ordinary, Stores::Streaming})
                benchmark::RegisterBenchmark(storesName(depth, rows, stores).c_str(), storesBench,
                                             depth, kStoresType, rows, stores)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
    // The compute-bound scaling: the scalar path's slowest-per-byte frame on two threads.
    benchmark::RegisterBenchmark(kernelTwoThreadName(0, kScalingType, Path::Scalar).c_str(),
                                 kernelTwoThreadBench, 0, kScalingType, Path::Scalar)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    for (int depth = 0; depth < 3; ++depth) {
        for (int type = 1; type <= kTypes; ++type) {
            for (Path path : Ombrel::Kernels::kPaths) {
                if (path != Path::Scalar && Ombrel::Kernels::rowKernels(path) == nullptr)
                    continue;
                benchmark::RegisterBenchmark(kernelName(depth, type, path).c_str(), kernelBench,
                                             depth, type, path)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
                benchmark::RegisterBenchmark(pathBenchName("resident", depth, type, path).c_str(),
                                             residentBench, depth, type, path)
                    ->Unit(benchmark::kMicrosecond);
            }
#if OMBREL_BENCH_HOST
            for (int threads : {1, 2})
                benchmark::RegisterBenchmark(hostName(depth, type, threads).c_str(), hostBench,
                                             depth, type, threads)
                    ->Unit(benchmark::kMillisecond)
                    ->UseManualTime()
                    ->Iterations(8); // each frame also costs the host's own set-up and checks
#endif
#if OMBREL_BENCH_OPENCV
            if (depth != 1 && type <= kOpenCvTypes)
                for (bool four : {false, true})
                    benchmark::RegisterBenchmark(openCvName(depth, type, four).c_str(), openCvBench,
                                                 depth, type, four)
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime();
#endif
        }
        benchmark::RegisterBenchmark(copyName(depth).c_str(), copyBench, depth)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        for (int threads : {1, 2})
            for (bool streaming : {false, true})
                benchmark::RegisterBenchmark(rooflineName(depth, streaming, threads).c_str(),
                                             rooflineBench, depth, streaming, threads)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
    }
    if (!takeRawOptions(argc, argv))
        return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TableReporter reporter;
    const std::string loadBefore = loadAverage();
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printTable(reporter, loadBefore);
    benchmark::Shutdown();
    return 0;
}
