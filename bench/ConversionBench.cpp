// Megapixels per second of the conversion filter on a UHD frame, per depth and conversion, on
// one thread (the frame path splits the same loops over the host's threads).
//
//   build/bench/ombrel_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Ombrel/Filter/OmbrelColorSpaceConversion.h"

#if OMBREL_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using Ombrel::BPC;
using Ombrel::ColorSpaceConversion;
using Type = ColorSpaceConversion::Parameter::Type;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// A UHD world of random pixels in range for the depth.
struct Frame {
    Frame(BPC bpc, std::size_t pixelBytes) : bytes(pixelBytes * kWidth * kHeight) {
        std::mt19937 rng(1);
        if (bpc == Ombrel::BPC_8) {
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
        } else if (bpc == Ombrel::BPC_16) {
            auto* p = reinterpret_cast<std::uint16_t*>(bytes.data());
            for (std::size_t i = 0; i < bytes.size() / 2; ++i)
                p[i] = static_cast<std::uint16_t>(rng() % 32769);
        } else {
            auto* p = reinterpret_cast<float*>(bytes.data());
            for (std::size_t i = 0; i < bytes.size() / 4; ++i)
                p[i] = static_cast<float>(rng() % 65536) / 65535.0f;
        }
        def.data = reinterpret_cast<PF_Pixel*>(bytes.data());
        def.rowbytes = static_cast<A_long>(pixelBytes * kWidth);
        def.width = kWidth;
        def.height = kHeight;
    }
    std::vector<std::uint8_t> bytes;
    PF_LayerDef def{};
};

void BM_Convert(benchmark::State& state) {
    const auto bpc = static_cast<BPC>(state.range(0));
    const auto type = static_cast<Type>(state.range(1));
    const std::size_t pixelBytes = bpc == Ombrel::BPC_8 ? 4 : bpc == Ombrel::BPC_16 ? 8 : 16;
    Frame src(bpc, pixelBytes), dst(bpc, pixelBytes);
    PF_InData in{};
    PF_OutData out{};
    Ombrel::Layer input(&in, &out, &src.def, bpc), output(&in, &out, &dst.def, bpc);
    ColorSpaceConversion filter(ColorSpaceConversion::Parameter().setType(type));
    for (auto _ : state) {
        filter.execute(input, output);
        benchmark::DoNotOptimize(dst.bytes.data());
        benchmark::ClobberMemory();
    }
    const double pixels = double(kWidth) * kHeight;
    state.counters["MP/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    static const char* const depths[] = {"8-bit", "16-bit", "32-bit"};
    state.SetLabel(std::string(depths[state.range(0)]) + " " +
                   Ombrel::kConversions[Ombrel::conversionIndex(type)].name);
}

// Every popup value of the table.
std::vector<std::int64_t> conversionTypes() {
    std::vector<std::int64_t> types;
    for (const Ombrel::Conversion& c : Ombrel::kConversions)
        types.push_back(c.type);
    return types;
}

BENCHMARK(BM_Convert)
    ->ArgsProduct({{0, 1, 2}, conversionTypes()})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

#if OMBREL_BENCH_OPENCV
// OpenCV's closest conversions on the same frame size, 3 interleaved channels, for scale. They
// are not the same formulas (OpenCV's HLS hue is halved at 8 bits, its YUV uses other weights).
void BM_OpenCV(benchmark::State& state) {
    const int codes[] = {cv::COLOR_RGB2YUV,      cv::COLOR_YUV2RGB,      cv::COLOR_RGB2HLS_FULL,
                         cv::COLOR_HLS2RGB_FULL, cv::COLOR_RGB2HSV_FULL, cv::COLOR_HSV2RGB_FULL};
    const bool isFloat = state.range(0) == 2;
    cv::Mat src(kHeight, kWidth, isFloat ? CV_32FC3 : CV_8UC3), dst;
    cv::randu(src, 0, isFloat ? 1.0 : 255.0);
    cv::setNumThreads(1);
    for (auto _ : state) {
        cv::cvtColor(src, dst, codes[state.range(1) - 1]);
        benchmark::DoNotOptimize(dst.data);
    }
    state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    static const char* const names[] = {"RGB2YUV",      "YUV2RGB",      "RGB2HLS_FULL",
                                        "HLS2RGB_FULL", "RGB2HSV_FULL", "HSV2RGB_FULL"};
    state.SetLabel(std::string(isFloat ? "OpenCV 32F " : "OpenCV 8U ") + names[state.range(1) - 1]);
}
BENCHMARK(BM_OpenCV)->ArgsProduct({{0, 2}, {1, 2, 3, 4, 5, 6}})->Unit(benchmark::kMillisecond);
#endif

} // namespace
