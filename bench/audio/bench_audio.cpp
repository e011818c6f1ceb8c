// Cost of the audio pipeline per 100 ms buffer, as a fraction of real time and as a ratio to a plain Speex
// encode of the same buffer measured in the same run; and the adaptive filter per sample.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <numbers>

#include "audio/AdaptiveFilter.h"
#include "audio/AudioConditioner.h"
#include "audio/AudioService.h"
#include "audio/SpeexCodec.h"
#include "net/Protocol.h"
#include "support/Speech.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBufferSeconds = 0.1;

// Speech to work on: spoken by espeak-ng when it is there, else a voiced synthetic vowel.
const std::vector<int16_t>& Speech() {
    static const std::vector<int16_t> speech = [] {
        std::vector<int16_t> s;
        if (vp::test::MakeSpeech("the quick brown fox jumps over the lazy dog", s, 0, 0) &&
            s.size() >= 8000) {
            return s;
        }
        s.resize(8000 * 3);
        for (size_t i = 0; i < s.size(); ++i) {
            double v = 0;
            for (int h = 1; h < 12; ++h)
                v += std::sin(2 * std::numbers::pi * 140 * h * double(i) / 8000) / h;
            s[i] = static_cast<int16_t>(8000 * v);
        }
        return s;
    }();
    return speech;
}

const int16_t* Buffer(size_t index) {
    const auto& s = Speech();
    const size_t count = s.size() / 800;
    return &s[(index % count) * 800];
}

// Seconds per plain Speex encode of one buffer, measured once in this process.
double ReferenceEncodeSeconds() {
    static const double seconds = [] {
        CSpeexCodec codec;
        codec.OpenEncoder(CAudioService::kAbrBitRate);
        CByteBuffer pcm, out;
        const int rounds = 400;
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            pcm.SetSize(0);
            pcm.Append(Buffer(static_cast<size_t>(i)), 1600);
            codec.Encode(pcm, out);
        }
        return std::chrono::duration<double>(Clock::now() - start).count() / rounds;
    }();
    return seconds;
}

// Per-buffer time of the timed loop, reported beside the reference.
void Report(benchmark::State& state, double seconds, double perBufferUnits) {
    const double perUnit = seconds / static_cast<double>(state.iterations()) / perBufferUnits;
    state.counters["ratio_to_speex_encode"] = perUnit * perBufferUnits / ReferenceEncodeSeconds();
    state.counters["percent_of_real_time"] = 100 * perUnit * perBufferUnits / kBufferSeconds;
}

void BM_SpeexEncodeReference(benchmark::State& state) {
    CSpeexCodec codec;
    codec.OpenEncoder(CAudioService::kAbrBitRate);
    CByteBuffer pcm, out;
    size_t i = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        pcm.SetSize(0);
        pcm.Append(Buffer(i++), 1600);
        benchmark::DoNotOptimize(codec.Encode(pcm, out));
    }
    Report(state, std::chrono::duration<double>(Clock::now() - start).count(), 1);
}

void BM_SendPipeline(benchmark::State& state) {
    CAudioConditioner::Release();
    CAudioService service;
    service.SetMuted(false);
    service.SetSilenceThreshold(500);
    std::vector<int16_t> buffer(800);
    CByteBuffer popped;
    uint32_t tag = 0;
    size_t i = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        std::copy_n(Buffer(i++), 800, buffer.begin());
        service.OnData(buffer.data(), 1600);
        while (service.PopSend(tag, popped)) {
        }
    }
    Report(state, std::chrono::duration<double>(Clock::now() - start).count(), 1);
}

void BM_Receive(benchmark::State& state) {
    // Real packets of the speech, made beforehand.
    CSpeexCodec encoder;
    encoder.OpenEncoder(CAudioService::kAbrBitRate);
    std::vector<Bytes> packets;
    CByteBuffer pcm, encoded;
    for (size_t i = 0; i < Speech().size() / 800; ++i) {
        pcm.SetSize(0);
        pcm.Append(Buffer(i), 1600);
        const int n = encoder.Encode(pcm, encoded);
        packets.push_back(
            BuildAudio(static_cast<uint32_t>(i + 1), encoded.Data(), static_cast<uint32_t>(n), 1600));
    }
    CAudioService service;  // playback closed: each flush writes nowhere, as a closed device does
    g_bPlaybackStarted = 1;
    size_t i = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        const Bytes& p = packets[i++ % packets.size()];
        service.PushReceived(0, p.data(), p.size());
        service.Receive();
    }
    Report(state, std::chrono::duration<double>(Clock::now() - start).count(), 1);
}

void BM_AdaptiveFilterPerSample(benchmark::State& state) {
    CAdaptiveFilter filter;
    size_t i = 0;
    double sink = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        const int16_t* b = Buffer(i++);
        for (int k = 0; k < 800; ++k) {
            const double x = b[k] * kSampleScale;
            sink += filter.Process(x, x);
        }
    }
    benchmark::DoNotOptimize(sink);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Report(state, seconds, 1);
    state.counters["ns_per_sample"] = 1e9 * seconds / static_cast<double>(state.iterations()) / 800;
}

// The worst case: a reference whose echo is in the input, so the weights adapt and the estimate runs.
void BM_AdaptiveFilterAdaptingPerSample(benchmark::State& state) {
    CAdaptiveFilter filter;
    size_t i = 0;
    double sink = 0;
    double echo[24] = {};
    const auto start = Clock::now();
    for (auto _ : state) {
        const int16_t* b = Buffer(i++);
        for (int k = 0; k < 800; ++k) {
            const double x = b[k] * kSampleScale * 0.2;  // quiet enough that the hold lets go
            const double y = 0.5 * echo[(k + 1) % 24];
            echo[k % 24] = x;
            sink += filter.Process(x, y);
        }
    }
    benchmark::DoNotOptimize(sink);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Report(state, seconds, 1);
    state.counters["ns_per_sample"] = 1e9 * seconds / static_cast<double>(state.iterations()) / 800;
}

BENCHMARK(BM_SpeexEncodeReference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendPipeline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Receive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AdaptiveFilterPerSample)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AdaptiveFilterAdaptingPerSample)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
