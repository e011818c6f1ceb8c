// The colour conversions and the stretch at the camera's 320 x 240, each timed call by call beside the
// same work done by libyuv, so that the ratio holds however busy the machine is:
//   RgbToI420        beside RGB24ToJ420 (bottom-up 24-bit in, full-range I420 out);
//   I420ToRgb32      beside I420ToARGB (into a bottom-up picture);
//   StretchBilinear  320 x 240 to 640 x 480 beside ARGBScale with bilinear filtering.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "video/ColourConversion.h"
#include "video/Surface.h"
#include "video/VideoCpu.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 320, kH = 240;

// A smooth picture with some noise, the same every run.
std::vector<uint8_t> Picture(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(bytes);
    for (size_t i = 0; i < bytes; ++i)
        p[i] = uint8_t((i * 7 / 13) % 200 + rng() % 56);
    return p;
}

// Times `ours` and `reference` alternately, once each per iteration; reports our time per call and the
// ratio of the two totals.
void Compare(benchmark::State& state, const std::function<void()>& ours,
             const std::function<void()>& reference) {
    ours();
    reference();
    double oursSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ours();
        const auto t1 = Clock::now();
        reference();
        const auto t2 = Clock::now();
        const double a = std::chrono::duration<double>(t1 - t0).count();
        oursSeconds += a;
        referenceSeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(a);
    }
    const double n = double(state.iterations());
    state.counters["us_ours"] = 1e6 * oursSeconds / n;
    state.counters["us_libyuv"] = 1e6 * referenceSeconds / n;
    state.counters["ratio_to_libyuv"] = oursSeconds / referenceSeconds;
}

// state.range(0): the vector kernels allowed (VideoCpu.h), to show what each level gives.
void BM_RgbToI420(benchmark::State& state) {
    SetVideoCpuMask(unsigned(state.range(0)));
    const auto rgb = Picture(kW * kH * 3, 1);
    std::vector<uint8_t> ours(kW * kH * 3 / 2), theirs(kW * kH * 3 / 2);
    Compare(
        state,
        [&] { benchmark::DoNotOptimize(RgbToI420(rgb.data(), ours.data(), kColourSpaceRgb24, kW, kH)); },
        [&] {
            // A negative height reads the picture bottom-up, as ours does.
            uint8_t* y = theirs.data();
            libyuv::RGB24ToJ420(rgb.data(), kW * 3, y, kW, y + kW * kH, kW / 2, y + kW * kH * 5 / 4, kW / 2,
                                kW, -kH);
            benchmark::DoNotOptimize(y);
        });
    SetVideoCpuMask(kVideoCpuAll);
}

void BM_I420ToRgb32(benchmark::State& state) {
    SetVideoCpuMask(unsigned(state.range(0)));
    CDataBuffer i420, rgb;
    i420.Resize(kW * kH * 3 / 2);
    const auto picture = Picture(size_t(i420.Size()), 2);
    std::memcpy(i420.Data(), picture.data(), picture.size());
    const CImageFormat format(40, kW, kH, 12u << 16 | 1u, kFourCCI420, kW * kH * 3 / 2, 0, 0, 0, 0);
    CImageFormat rgbFormat;
    std::vector<uint8_t> theirs(kW * kH * 4);
    Compare(
        state, [&] { benchmark::DoNotOptimize(I420ToRgb32(i420, format, rgb, rgbFormat)); },
        [&] {
            const uint8_t* y = i420.Data();
            libyuv::I420ToARGB(y, kW, y + kW * kH, kW / 2, y + kW * kH * 5 / 4, kW / 2, theirs.data(), kW * 4,
                               kW, -kH);
            benchmark::DoNotOptimize(theirs.data());
        });
    SetVideoCpuMask(kVideoCpuAll);
}

void BM_StretchBilinear(benchmark::State& state) {
    SetVideoCpuMask(unsigned(state.range(0)));
    auto source = Picture(kW * kH * 4, 3);
    std::vector<uint8_t> ours(kW * kH * 16), theirs(kW * kH * 16);
    const CSurface src(source.data(), kW, kH, 32);
    CSurface dst(ours.data(), 2 * kW, 2 * kH, 32);
    Compare(
        state,
        [&] { benchmark::DoNotOptimize(dst.StretchBilinear(0, 0, 2 * kW, 2 * kH, src, 0, 0, kW, kH)); },
        [&] {
            libyuv::ARGBScale(source.data(), kW * 4, kW, kH, theirs.data(), kW * 8, 2 * kW, 2 * kH,
                              libyuv::kFilterBilinear);
            benchmark::DoNotOptimize(theirs.data());
        });
    SetVideoCpuMask(kVideoCpuAll);
}

void Levels(benchmark::internal::Benchmark* b) {
    b->ArgName("cpu_mask");
    b->Arg(int(kVideoCpuSse2 | kVideoCpuAvx2))->Arg(int(kVideoCpuSse2))->Arg(0);
    b->UseManualTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_RgbToI420)->Apply(Levels);
BENCHMARK(BM_I420ToRgb32)->Apply(Levels);
BENCHMARK(BM_StretchBilinear)->Apply(Levels);

}  // namespace

BENCHMARK_MAIN();
