// Mouth-to-ear latency of a call through velaphond on loopback. Ana (velaphon-cli) calls Bea
// (velaphon-cli, answering at once); Ana's microphone is a WAV file, paced in real time, holding silence
// and then a tone burst; Bea's speaker records to a WAV file. The latency is the time from the burst's
// onset in the sent file to its onset in the received file. Both are placed on this process's clock:
// the sent file starts when Ana's capture starts (her "call-connected" line), the received file when
// Bea's playback starts (her "audio-playing" line).
//
// Beside it, the design's own floor: the onset's 100 ms capture buffer must be complete, and playback
// waits until three buffers' worth are pending, so sound cannot be heard sooner than three buffers
// (300 ms) after its onset. Calls: VP_BENCH_CALLS (default 3).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "audio/WavFile.h"
#include "integration/call/CliProcess.h"
#include "support/AccountSeed.h"

namespace {

constexpr int kRate = 8000;
constexpr double kLeadSeconds = 1.5;   // silence before the burst (a whole number of 100 ms buffers)
constexpr double kBurstSeconds = 0.6;  // longer than the three-buffer start
constexpr double kBufferMs = 100;
constexpr double kStartBuffers = 3;
const char* const kAddress = "127.0.0.160";

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

// The first sample louder than a tenth of full scale; -1 when none.
long Onset(const std::vector<int16_t>& samples) {
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::abs(static_cast<int>(samples[i])) > 3276)
            return static_cast<long>(i);
    return -1;
}

// velaphond on kAddress:443, ended with the object.
class CServer {
public:
    bool Start(const std::string& db) {
        return m_Process.Start(
                   {std::string(VP_BINARY_DIR) + "/bin/velaphond", "serve", "--db", db, "--listen",
                    std::string(kAddress) + ":443", "--http", std::string(kAddress) + ":0"},
                   vp::test::CChildProcess::kErr) &&
               m_Process.WaitLine("listening ", vp::test::CChildProcess::EMatch::Substring, -1);
    }

private:
    vp::test::CChildProcess m_Process;
};

// One call; the latency in ms, or NaN when the call or the measure failed.
double MeasureCall(const std::string& dir, const std::string& sent, int index) {
    const std::string heard = dir + "/heard" + std::to_string(index) + ".wav";
    calltest::CCli bea(kAddress, "5550162", "pw-bea", {"--auto-answer", "--speaker", heard});
    if (!bea.WaitLine("state C"))
        return NAN;
    calltest::CCli ana(kAddress, "5550161", "pw-ana",
                       {"--call", "5550162", "--mic", sent, "--hangup-after",
                        std::to_string(static_cast<int>(kLeadSeconds + kBurstSeconds + 2))});
    if (!ana.WaitLine("call-connected") || !bea.WaitLine("audio-playing", 10000) || !bea.WaitLine("hangup"))
        return NAN;
    const auto captureStart = *ana.TimeOf("call-connected");
    const auto playbackStart = *bea.TimeOf("audio-playing");
    ana.Stop();
    bea.Stop();
    SWavFormat format;
    std::vector<int16_t> samples;
    if (!ReadWavFile(heard, format, samples))
        return NAN;
    const long heardOnset = Onset(samples);
    if (heardOnset < 0)
        return NAN;
    const double sentMs = kLeadSeconds * 1000;
    const double heardMs = std::chrono::duration<double, std::milli>(playbackStart - captureStart).count() +
                           heardOnset * 1000.0 / kRate;
    return heardMs - sentMs;
}

void BM_MouthToEarLatency(benchmark::State& state) {
    char pattern[] = "/tmp/vp-bench-call-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (!vp::test::SeedDatabase(dir + "/accounts.db",
                                {{"5550161", "pw-ana", "", {}}, {"5550162", "pw-bea", "", {}}})) {
        state.SkipWithError("no account store");
        return;
    }
    // Silence, then a 1 kHz burst at half scale, then silence.
    std::vector<int16_t> burst(static_cast<size_t>((kLeadSeconds + kBurstSeconds + 1.0) * kRate), 0);
    for (size_t i = 0; i < static_cast<size_t>(kBurstSeconds * kRate); ++i)
        burst[static_cast<size_t>(kLeadSeconds * kRate) + i] =
            static_cast<int16_t>(16000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
    const std::string sent = dir + "/burst.wav";
    WriteWavFile(sent, kRate, 1, burst);

    CServer server;
    if (!server.Start(dir + "/accounts.db")) {
        state.SkipWithError("velaphond did not start (port 443 needs root)");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const int calls = EnvInt("VP_BENCH_CALLS", 3);
        for (int i = 0; i < calls; ++i) {
            const double ms = MeasureCall(dir, sent, i);
            if (!std::isnan(ms))
                latencies.push_back(ms);
        }
    }
    std::filesystem::remove_all(dir);
    if (latencies.empty()) {
        state.SkipWithError("no call was measured");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const double floorMs = kBufferMs * kStartBuffers;
    state.counters["latency_ms"] =
        std::accumulate(latencies.begin(), latencies.end(), 0.0) / latencies.size();
    state.counters["latency_min_ms"] = latencies.front();
    state.counters["latency_max_ms"] = latencies.back();
    state.counters["floor_ms"] = floorMs;
    state.counters["over_floor_ms"] = state.counters["latency_ms"] - floorMs;
    state.counters["calls"] = static_cast<double>(latencies.size());
}
BENCHMARK(BM_MouthToEarLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
