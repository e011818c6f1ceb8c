// Cost of one 320x240 picture through the codec class beside a bare xvid_encore of the same test-pattern
// pictures with the same settings. The ratio comes from both encoders taking turns on each picture in one
// loop, so a busy machine slows both alike.
#include <benchmark/benchmark.h>
#include <xvid.h>

#include <chrono>
#include <vector>

#include "video/TestPatternCamera.h"
#include "video/VideoCodecXvid.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr uint32_t kPictures = 50;

CImageFormat Format() {
    return CImageFormat(40, kWidth, kHeight, (12u << 16) | 1u, kFourCCI420, kWidth * kHeight * 3 / 2, 0, 0, 0,
                        0);
}

const std::vector<std::vector<uint8_t>>& Pictures() {
    static const std::vector<std::vector<uint8_t>> pictures = [] {
        std::vector<std::vector<uint8_t>> p(kPictures);
        for (uint32_t n = 0; n < kPictures; ++n) {
            p[n].resize(static_cast<size_t>(I420PictureSize(kWidth, kHeight)));
            RenderTestPattern(Format().m_Header.header, n, p[n].data());
        }
        return p;
    }();
    return pictures;
}

// The library called directly with the settings the codec class uses, writing straight into one area.
class CBareEncoder {
public:
    CBareEncoder() : m_Out(static_cast<size_t>(MaxEncodedPictureSize(kWidth, kHeight))) {
        InitCodecLibrary();
        xvid_plugin_single_t single{};
        single.version = XVID_VERSION;
        single.reaction_delay_factor = 16;
        single.averaging_period = 100;
        single.buffer = 10;
        xvid_enc_plugin_t plugin{xvid_plugin_single, &single};
        xvid_enc_create_t create{};
        create.version = XVID_VERSION;
        create.width = kWidth;
        create.height = kHeight;
        create.plugins = &plugin;
        create.num_plugins = 1;
        create.fincr = 1;
        create.fbase = CVideoCodecXvid::kDefaultFrameRate;
        create.max_key_interval = CVideoCodecXvid::kMaxKeyInterval;
        xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr);
        m_hEncoder = create.handle;
    }
    ~CBareEncoder() { xvid_encore(m_hEncoder, XVID_ENC_DESTROY, nullptr, nullptr); }

    int Encode(const std::vector<uint8_t>& picture, bool key) {
        xvid_enc_frame_t frame{};
        frame.version = XVID_VERSION;
        frame.vop_flags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
        frame.motion =
            XVID_ME_HALFPELREFINE16 | XVID_ME_EXTSEARCH16 | XVID_ME_USESQUARES16 | XVID_ME_HALFPELREFINE8;
        frame.input.csp = XVID_CSP_I420;
        frame.input.plane[0] = const_cast<uint8_t*>(picture.data());
        frame.input.stride[0] = kWidth;
        frame.type = key ? XVID_TYPE_IVOP : XVID_TYPE_AUTO;
        frame.bitstream = m_Out.data();
        frame.length = static_cast<int>(m_Out.size());
        xvid_enc_stats_t stats{};
        stats.version = XVID_VERSION;
        return xvid_encore(m_hEncoder, XVID_ENC_ENCODE, &frame, &stats);
    }

private:
    std::vector<uint8_t> m_Out;
    void* m_hEncoder = nullptr;
};

class CClassEncoder {
public:
    CClassEncoder() : m_Out(static_cast<size_t>(I420PictureSize(kWidth, kHeight))) {
        m_Codec.SetInputFormat(Format());
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
    CBareEncoder bare;
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

BENCHMARK_TEMPLATE(BM_Encode, CBareEncoder)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Encode, CClassEncoder)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClassBesideBare)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
