// The send loop's cost at 320x240, as a percentage of one core: the CPU time of the send work on one
// picture times the pictures per second. The send work is what the service's threads do for a picture: the
// grab handled by the capture window (copy into the pool, change detection), the notification, then one pass
// of the send loop (TakeFrame, RGB to I420 for an RGB camera, the preview converted and swapped into a
// view, the encode in place, the header, the push). Beside it, a bare xvid_encore of the same I420
// picture, created for the same rate. Both take turns on each picture and are timed on this thread's
// CPU clock, so a busy machine slows neither more than the other. Draining the channel is the network's
// work and is not counted.
#include <benchmark/benchmark.h>
#include <time.h>

#include <mutex>
#include <vector>

#include "BareEncoder.h"
#include "ReplayCamera.h"
#include "net/Channel.h"
#include "platform/ByteBuffer.h"
#include "video/VideoPicture.h"
#include "video/VideoService.h"

namespace {

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct SHost : IVideoServiceHost {
    void SendVideoFormat(const SBitmapInfoHeader&) override {}
    void SendVideoStop() override {}
    void OnCameraLost() override {}
};

// Takes the picture as a view does: a copy, then a swap under the lock painting would take.
class CCopyingPreview : public IVideoPicture {
public:
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& format) override {
        m_Incoming.assign(rgb32.Data(), rgb32.Data() + size_t(format.Width()) * size_t(format.Height()) * 4);
        std::lock_guard<std::mutex> guard(m_Lock);
        std::swap(m_Picture, m_Incoming);
    }
    void ClearPicture() override {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Picture.clear();
    }

private:
    std::mutex m_Lock;
    std::vector<uint8_t> m_Picture, m_Incoming;
};

void BM_SendLoop(benchmark::State& state) {
    const int frameRate = static_cast<int>(state.range(0));
    const bool rgb = state.range(1) != 0;
    static const SReplayFrames rgbFrames(true), i420Frames(false);
    const SReplayFrames& frames = rgb ? rgbFrames : i420Frames;
    SetCaptureBackends({std::make_shared<CReplayBackend>(frames, rgb)});

    SHost host;
    CCopyingPreview preview;
    CBareEncoder bare(kReplayWidth, kReplayHeight, frameRate);
    double ourCpu = 0, bareCpu = 0;
    long bytes = 0;
    {
        CVideoService service(host, false);
        service.SetPreview(&preview);
        if (!service.StartVideo(kReplayCameraName, frameRate)) {
            state.SkipWithError("video did not start");
            SetCaptureBackends({});
            return;
        }
        const HWND camera = service.Capture().GetSafeHwnd();
        CByteBuffer record;
        uint32_t tag = 0;
        uint32_t n = 0;
        for (auto _ : state) {
            const double t0 = ThreadCpuSeconds();
            SendMessage(camera, WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
            DispatchPendingMessages();
            const bool passed = service.SendPass();
            const double t1 = ThreadCpuSeconds();
            benchmark::DoNotOptimize(bare.Encode(frames.i420[n % kReplayPictures].data(), n == 0));
            const double t2 = ThreadCpuSeconds();
            if (!passed || !service.Channel().PopSend(tag, record)) {
                state.SkipWithError("a changing picture was not sent");
                break;
            }
            bytes += static_cast<long>(record.Size());
            ourCpu += t1 - t0;
            bareCpu += t2 - t1;
            ++n;
        }
        service.StopVideo();
    }
    SetCaptureBackends({});
    if (ourCpu <= 0 || bareCpu <= 0)
        return;
    const double iterations = static_cast<double>(state.iterations());
    state.counters["core_percent"] = 100 * ourCpu / iterations * frameRate;
    state.counters["bare_core_percent"] = 100 * bareCpu / iterations * frameRate;
    state.counters["ratio_to_bare_encore"] = ourCpu / bareCpu;
    state.counters["ours_us_per_picture"] = 1e6 * ourCpu / iterations;
    state.counters["bare_us_per_picture"] = 1e6 * bareCpu / iterations;
    state.counters["bytes_per_picture"] = static_cast<double>(bytes) / iterations;
}

BENCHMARK(BM_SendLoop)
    ->ArgNames({"fps", "rgb_camera"})
    ->ArgsProduct({{15, 30}, {0, 1}})
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
