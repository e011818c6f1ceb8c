// Cost of one 320x240 picture through the codec class beside a bare xvid_encore of the same test-pattern
// pictures with the same settings. The ratio comes from both encoders taking turns on each picture in one
// loop, so a busy machine slows both alike.
#include <benchmark/benchmark.h>
#include <xvid.h>

#include <chrono>
#include <vector>

#include "BareEncoder.h"
#include "video/I420Format.h"
#include "video/TestPatternCamera.h"
#include "video/VideoCodecXvid.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr uint32_t kPictures = 50;

const std::vector<std::vector<uint8_t>>& Pictures() {
    static const std::vector<std::vector<uint8_t>> pictures = [] {
        std::vector<std::vector<uint8_t>> p(kPictures);
        for (uint32_t n = 0; n < kPictures; ++n) {
            p[n].resize(static_cast<size_t>(I420PictureSize(kWidth, kHeight)));
            RenderTestPattern(I420FormatOfSize(kWidth, kHeight).m_Header.header, n, p[n].data());
        }
        return p;
    }();
    return pictures;
}

class CBare : public CBareEncoder {
public:
    CBare() : CBareEncoder(kWidth, kHeight) {}
    int Encode(const std::vector<uint8_t>& picture, bool key) {
        return CBareEncoder::Encode(picture.data(), key);
    }
};

class CClassEncoder {
public:
    CClassEncoder() : m_Out(static_cast<size_t>(I420PictureSize(kWidth, kHeight))) {
        m_Codec.SetInputFormat(I420FormatOfSize(kWidth, kHeight));
        m_Codec.Create(true);
    }
    int Encode(const std::vector<uint8_t>& picture, bool key) {
        return m_Codec.Encode(picture.data(), long(picture.size()), m_Out.data(), long(m_Out.size()), key);
    }

private:
    CVideoCodecXvid m_Codec;
    std::vector<uint8_t> m_Out;
};

template <class TEncoder>
void BM_Encode(benchmark::State& state) {
    TEncoder encoder;
    uint32_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encoder.Encode(Pictures()[n % kPictures], n == 0));
        ++n;
    }
}

void BM_ClassBesideBare(benchmark::State& state) {
    CBare bare;
    CClassEncoder ours;
    Clock::duration bareTime{}, ourTime{};
    uint32_t n = 0;
    for (auto _ : state) {
        const auto& picture = Pictures()[n % kPictures];
        // Turns alternate, so neither always finds the picture already in the cache.
        const bool bareFirst = n % 2 == 0;
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(bareFirst ? bare.Encode(picture, n == 0) : ours.Encode(picture, n == 0));
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(bareFirst ? ours.Encode(picture, n == 0) : bare.Encode(picture, n == 0));
        const auto t2 = Clock::now();
        bareTime += bareFirst ? t1 - t0 : t2 - t1;
        ourTime += bareFirst ? t2 - t1 : t1 - t0;
        ++n;
    }
    state.counters["ratio_to_bare_encore"] =
        std::chrono::duration<double>(ourTime).count() / std::chrono::duration<double>(bareTime).count();
    state.counters["bare_us_per_picture"] =
        1e6 * std::chrono::duration<double>(bareTime).count() / static_cast<double>(state.iterations());
}

BENCHMARK_TEMPLATE(BM_Encode, CBare)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Encode, CClassEncoder)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClassBesideBare)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
