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
//
// BM_VideoCall: one call of a minute with sound and the test pattern both ways. Each side's pattern is
// still, then starts moving at a known time ("video-moving N"); the mouth-to-eye latency is the time
// from that line to the peer's first "video-frame" of the moving pattern, beside the mouth-to-ear
// latency of a tone burst measured in the same call as above. The move is timed from when video started,
// as the camera's grabs are, so the wait for the next grab (up to one picture interval for a real
// camera) is left out. The bytes on the wire are the TCP payload the server's sockets sent and received
// (from `ss`), over a stretch with both patterns still (sound only) and one with both moving.
//
// BM_VideoRecovery: calls in which the receiver loses its first pictures (`--lose-pictures`), the key
// frame among them, so the pictures after them cannot be decoded. The recovery time runs from its first
// key-frame request to the first picture it decodes after it; beside it, the requests it sent. Calls:
// VP_BENCH_CALLS (default 5).
//
// BM_StalledCallee: how late the caller's main loop runs (a 10 ms timer, p50 / p99 / max in ms) while it
// sends sound and a 16 KiB chat line every 25 ms to a callee that stops reading for ten seconds, beside
// the same call with a callee that reads; also the waits for the link its main thread made (none are
// allowed) and whether every chat line arrived.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/WavFile.h"
#include "integration/call/CliProcess.h"
#include "integration/call/RawCallee.h"
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

// velaphond on address:443, ended with the object.
class CServer {
public:
    bool Start(const std::string& db, const std::string& address = kAddress) {
        return m_Process.Start({std::string(VP_BINARY_DIR) + "/bin/velaphond", "serve", "--db", db,
                                "--listen", address + ":443", "--http", address + ":0"},
                               vp::test::CChildProcess::kErr) &&
               m_Process.WaitLine("listening ", vp::test::CChildProcess::EMatch::Substring, -1);
    }

private:
    vp::test::CChildProcess m_Process;
};

// Silence, then a 1 kHz burst at half scale, then silence.
std::vector<int16_t> BurstSamples(double burstSeconds = kBurstSeconds) {
    std::vector<int16_t> burst(static_cast<size_t>((kLeadSeconds + burstSeconds + 1.0) * kRate), 0);
    for (size_t i = 0; i < static_cast<size_t>(burstSeconds * kRate); ++i)
        burst[static_cast<size_t>(kLeadSeconds * kRate) + i] =
            static_cast<int16_t>(16000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
    return burst;
}

// The burst's latency in ms given when the sender's capture and the receiver's playback started; NaN
// when the recording holds no burst.
double BurstLatencyMs(calltest::Clock::time_point captureStart, calltest::Clock::time_point playbackStart,
                      const std::string& heard) {
    SWavFormat format;
    std::vector<int16_t> samples;
    if (!ReadWavFile(heard, format, samples))
        return NAN;
    const long heardOnset = Onset(samples);
    if (heardOnset < 0)
        return NAN;
    const double heardMs = std::chrono::duration<double, std::milli>(playbackStart - captureStart).count() +
                           heardOnset * 1000.0 / kRate;
    return heardMs - kLeadSeconds * 1000;
}

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
    return BurstLatencyMs(captureStart, playbackStart, heard);
}

void BM_MouthToEarLatency(benchmark::State& state) {
    char pattern[] = "/tmp/vp-bench-call-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (!vp::test::SeedDatabase(dir + "/accounts.db",
                                {{"5550161", "pw-ana", "", {}}, {"5550162", "pw-bea", "", {}}})) {
        state.SkipWithError("no account store");
        return;
    }
    const std::string sent = dir + "/burst.wav";
    WriteWavFile(sent, kRate, 1, BurstSamples());

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

constexpr int kVideoCallSeconds = 60;
constexpr int kMoveAfterSeconds = 20;  // after each side's video started
// Outside the addresses the integration tests use, so a test run beside it does not collide.
const char* const kVideoAddress = "127.0.0.190";

// TCP payload bytes the server's sockets on `address`:443 have received and sent so far, summed over its
// connections; false when `ss` could not be read.
bool ServerTraffic(const std::string& address, double& received, double& sent) {
    const std::string command = "ss -tinH state established src " + address + ":443 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    if (pclose(pipe) != 0)
        return false;
    received = sent = 0;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (word.rfind("bytes_received:", 0) == 0)
            received += std::atof(word.c_str() + 15);
        else if (word.rfind("bytes_sent:", 0) == 0)
            sent += std::atof(word.c_str() + 11);
    }
    return true;
}

struct STraffic {
    calltest::Clock::time_point time;
    double received = 0, sent = 0;
};

// Bytes per second one side puts on the wire (the server's intake from both, halved) between two
// samples; `out`: what one side is sent instead.
double SideBytesPerSecond(const STraffic& a, const STraffic& b, bool out = false) {
    const double seconds = std::chrono::duration<double>(b.time - a.time).count();
    return (out ? b.sent - a.sent : b.received - a.received) / 2 / seconds;
}

// From `sender`'s "video-moving N" to the first "video-frame M" (M >= N) of `receiver`, in ms; NaN when
// either is missing.
double MouthToEyeMs(calltest::CCli& sender, calltest::CCli& receiver) {
    const long first = sender.Number("video-moving");
    const auto moved = sender.TimeOf("video-moving " + std::to_string(first));
    if (first < 0 || !moved)
        return NAN;
    // Pictures may be skipped on the way: the earliest of the next few counts.
    std::optional<calltest::Clock::time_point> seen;
    for (const std::string& line : receiver.Lines()) {
        long n = -1;
        if (std::sscanf(line.c_str(), "video-frame %ld ", &n) != 1 || n < first || n >= first + 30)
            continue;
        const auto t = receiver.TimeOf(line);
        if (t && (!seen || *t < *seen))
            seen = t;
    }
    return seen ? std::chrono::duration<double, std::milli>(*seen - *moved).count() : NAN;
}

void BM_VideoCall(benchmark::State& state) {
    char pattern[] = "/tmp/vp-bench-vcall-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (!vp::test::SeedDatabase(dir + "/accounts.db",
                                {{"5550171", "pw-ana", "", {}}, {"5550172", "pw-bea", "", {}}})) {
        state.SkipWithError("no account store");
        return;
    }
    // The burst lasts the whole call, so sound is sent all along (silence would not be).
    const std::string sent = dir + "/burst.wav";
    WriteWavFile(sent, kRate, 1, BurstSamples(kVideoCallSeconds + 5));
    CServer server;
    if (!server.Start(dir + "/accounts.db", kVideoAddress)) {
        state.SkipWithError("velaphond did not start (port 443 needs root)");
        return;
    }
    const std::vector<std::string> video = {
        "--camera", "test", "--still", "--move-after", std::to_string(kMoveAfterSeconds), "--mic", sent};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), video.begin(), video.end());
        return extra;
    };
    for (auto _ : state) {
        calltest::CCli bea(kVideoAddress, "5550172", "pw-bea",
                           with({"--auto-answer", "--speaker", dir + "/heard-by-bea.wav"}));
        if (!bea.WaitLine("state C")) {
            state.SkipWithError("Bea did not log in");
            break;
        }
        calltest::CCli ana(kVideoAddress, "5550171", "pw-ana",
                           with({"--call", "5550172", "--speaker", dir + "/heard-by-ana.wav",
                                 "--hangup-after", std::to_string(kVideoCallSeconds)}));
        if (!ana.WaitLine("call-connected") || !bea.WaitLine("call-connected") ||
            !ana.WaitLine("video-started") || !bea.WaitLine("video-started")) {
            state.SkipWithError("the video call did not start");
            break;
        }
        const auto connected = *ana.TimeOf("call-connected");
        // Both still from 8 s to 18 s; both moving from 26 s to 56 s.
        const int marks[] = {8, 18, 26, kVideoCallSeconds - 4};
        std::vector<STraffic> samples;
        for (int second : marks) {
            STraffic t;
            std::this_thread::sleep_until(connected + std::chrono::seconds(second));
            t.time = calltest::Clock::now();
            if (!ServerTraffic(kVideoAddress, t.received, t.sent))
                break;
            samples.push_back(t);
        }
        if (samples.size() != std::size(marks)) {
            state.SkipWithError("ss gave no socket figures");
            break;
        }
        if (!ana.WaitLine("video-received ", 30000, true) || !bea.WaitLine("video-received ", 30000, true)) {
            state.SkipWithError("the call did not end");
            break;
        }
        state.counters["ana_pictures_sent"] = static_cast<double>(ana.Number("video-sent"));
        state.counters["ana_pictures_received"] = static_cast<double>(ana.Number("video-received"));
        state.counters["bea_pictures_sent"] = static_cast<double>(bea.Number("video-sent"));
        state.counters["bea_pictures_received"] = static_cast<double>(bea.Number("video-received"));
        state.counters["eye_ana_to_bea_ms"] = MouthToEyeMs(ana, bea);
        state.counters["eye_bea_to_ana_ms"] = MouthToEyeMs(bea, ana);
        if (ana.TimeOf("audio-playing") && bea.TimeOf("audio-playing")) {
            state.counters["ear_ana_to_bea_ms"] =
                BurstLatencyMs(connected, *bea.TimeOf("audio-playing"), dir + "/heard-by-bea.wav");
            state.counters["ear_bea_to_ana_ms"] = BurstLatencyMs(
                *bea.TimeOf("call-connected"), *ana.TimeOf("audio-playing"), dir + "/heard-by-ana.wav");
        }
        state.counters["side_sends_B_per_s_still"] = SideBytesPerSecond(samples[0], samples[1]);
        state.counters["side_sends_B_per_s_moving"] = SideBytesPerSecond(samples[2], samples[3]);
        state.counters["side_gets_B_per_s_moving"] = SideBytesPerSecond(samples[2], samples[3], true);
        ana.Stop();
        bea.Stop();
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_VideoCall)->Iterations(1)->Unit(benchmark::kMillisecond);

const char* const kRecoveryAddress = "127.0.0.191";
constexpr int kLostPictures = 5;

// From `receiver`'s first "video-keyframe-request" to its first "video-frame" after it, in ms; NaN when
// either is missing.
double RecoveryMs(calltest::CCli& receiver) {
    const auto lines = receiver.Lines();
    const auto request = std::find(lines.begin(), lines.end(), "video-keyframe-request");
    const auto frame = std::find_if(
        request, lines.end(), [](const std::string& line) { return line.rfind("video-frame ", 0) == 0; });
    if (frame == lines.end())
        return NAN;
    // Each frame number is shown once, so the first line with this text is this one.
    const auto asked = receiver.TimeOf(*request);
    const auto shown = receiver.TimeOf(*frame);
    return asked && shown ? std::chrono::duration<double, std::milli>(*shown - *asked).count() : NAN;
}

void BM_VideoRecovery(benchmark::State& state) {
    char pattern[] = "/tmp/vp-bench-vrecover-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (!vp::test::SeedDatabase(dir + "/accounts.db",
                                {{"5550181", "pw-ana", "", {}}, {"5550182", "pw-bea", "", {}}})) {
        state.SkipWithError("no account store");
        return;
    }
    CServer server;
    if (!server.Start(dir + "/accounts.db", kRecoveryAddress)) {
        state.SkipWithError("velaphond did not start (port 443 needs root)");
        return;
    }
    std::vector<double> recoveries, requests;
    for (auto _ : state) {
        const int calls = EnvInt("VP_BENCH_CALLS", 5);
        for (int i = 0; i < calls; ++i) {
            calltest::CCli bea(kRecoveryAddress, "5550182", "pw-bea", {"--auto-answer", "--camera", "test"});
            if (!bea.WaitLine("state C"))
                continue;
            calltest::CCli ana(kRecoveryAddress, "5550181", "pw-ana",
                               {"--call", "5550182", "--lose-pictures", std::to_string(kLostPictures),
                                "--hangup-after", "3"});
            if (!ana.WaitLine("video-received ", 30000, true))
                continue;
            const double ms = RecoveryMs(ana);
            if (std::isnan(ms))
                continue;
            recoveries.push_back(ms);
            requests.push_back(ana.Count("video-keyframe-request"));
            ana.Stop();
            bea.Stop();
        }
    }
    std::filesystem::remove_all(dir);
    if (recoveries.empty()) {
        state.SkipWithError("no call recovered");
        return;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    state.counters["recovery_median_ms"] = median(recoveries);
    state.counters["recovery_max_ms"] = *std::max_element(recoveries.begin(), recoveries.end());
    state.counters["requests_median"] = median(requests);
    state.counters["requests_max"] = *std::max_element(requests.begin(), requests.end());
    state.counters["lost_pictures"] = kLostPictures;
    state.counters["calls"] = static_cast<double>(recoveries.size());
}
BENCHMARK(BM_VideoRecovery)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

struct SLoopFigures {
    double p50 = NAN, p99 = NAN, max = NAN;
    double waits = NAN;
    bool allChatArrived = false;
    int sent = -1, read = -1;
};

// One call from Ana (velaphon-cli) to a raw callee that, with `stall`, reads nothing for ten seconds.
SLoopFigures MeasureLoop(bool stall) {
    SLoopFigures figures;
    servertest::CTestClient bea;
    if (!bea.Connect(kAddress, 443))
        return figures;
    bea.SetReceiveBuffer(64 * 1024);
    if (!bea.LoginFully("5550162", "pw-bea"))
        return figures;
    calltest::CCli ana(kAddress, "5550161", "pw-ana",
                       {"--call", "5550162", "--mic", "tone", "--chat-every", "25", "--chat-size", "16384",
                        "--hangup-after", "14", "--duration", "22", "--loop-report"});
    if (!calltest::AnswerRaw(bea) || !ana.WaitLine("call-connected"))
        return figures;
    if (stall)
        std::this_thread::sleep_for(std::chrono::seconds(10));
    const int read = calltest::ReadNumberedChat(bea);
    std::string sent, waits, lateness;
    if (!ana.WaitLine("chat-sent ", 10000, true, &sent) || ana.Wait(40000) != 0 ||
        !ana.WaitLine("transport-waits ", 0, true, &waits) ||
        !ana.WaitLine("loop-lateness ", 0, true, &lateness))
        return figures;
    figures.sent = std::stoi(sent.substr(10));
    figures.read = read;
    figures.allChatArrived = read == figures.sent;
    figures.waits = std::stod(waits.substr(16));
    std::istringstream in(lateness.substr(14));
    in >> figures.p50 >> figures.p99 >> figures.max;
    return figures;
}

void BM_StalledCallee(benchmark::State& state) {
    char pattern[] = "/tmp/vp-bench-stall-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    if (!vp::test::SeedDatabase(dir + "/accounts.db",
                                {{"5550161", "pw-ana", "", {}}, {"5550162", "pw-bea", "", {}}})) {
        state.SkipWithError("no account store");
        return;
    }
    CServer server;
    if (!server.Start(dir + "/accounts.db")) {
        state.SkipWithError("velaphond did not start (port 443 needs root)");
        return;
    }
    SLoopFigures reading, stalled;
    for (auto _ : state) {
        reading = MeasureLoop(false);
        stalled = MeasureLoop(true);
    }
    state.counters["reading_p99_ms"] = reading.p99;
    state.counters["stalled_p50_ms"] = stalled.p50;
    state.counters["stalled_p99_ms"] = stalled.p99;
    state.counters["stalled_max_ms"] = stalled.max;
    state.counters["stalled_p99_ratio"] = stalled.p99 / std::max(reading.p99, 0.1);
    state.counters["link_waits"] = stalled.waits;
    state.counters["all_chat_arrived"] = stalled.allChatArrived && reading.allChatArrived ? 1 : 0;
    state.counters["stalled_chat_sent"] = stalled.sent;
    state.counters["stalled_chat_read"] = stalled.read;
    state.counters["reading_chat_sent"] = reading.sent;
    state.counters["reading_chat_read"] = reading.read;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StalledCallee)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
