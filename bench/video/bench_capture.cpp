// Capture to bitstream, per 320x240 picture, as the video service runs it: the grab handled by the capture
// window (copy into the pool, change detection), TakeFrame, RGB to I420 for an RGB camera, the encode in
// place — beside a bare xvid_encore of the same I420 picture. Both take turns on each picture, so a busy
// machine slows both alike. The camera's own work (drawing the pattern) is done before timing starts.
#include <benchmark/benchmark.h>

#include <chrono>

#include "BareEncoder.h"
#include "ReplayCamera.h"
#include "video/ColourConversion.h"
#include "video/VideoCaptureWindow.h"
#include "video/VideoCodecXvid.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = kReplayWidth;
constexpr int kHeight = kReplayHeight;
constexpr uint32_t kPictures = kReplayPictures;

void BM_CaptureToBitstream(benchmark::State& state) {
    const bool rgb = state.range(0) != 0;
    static const SReplayFrames rgbFrames(true), i420Frames(false);
    const SReplayFrames& frames = rgb ? rgbFrames : i420Frames;
    SetCaptureBackends({std::make_shared<CReplayBackend>(frames, rgb)});
    ResetCaptureReferenceFrame();

    CFunctionTarget notify([](UINT, WPARAM, LPARAM) { return LRESULT(0); });
    CVideoCaptureWindow capture;
    if (!capture.StartPreset(kReplayCameraName, nullptr, rgb ? 5 : 3)) {
        state.SkipWithError("capture did not start");
        return;
    }
    capture.m_hWndNotify = notify.GetSafeHwnd();
    CImageFormat i420Format(ReplayHeader(false));
    CVideoCodecXvid codec;
    codec.SetInputFormat(i420Format);
    codec.Create(true);
    CBareEncoder bare(kWidth, kHeight);
    CDataBuffer frame, converted;
    converted.Resize(static_cast<long>(I420PictureSize(kWidth, kHeight)));

    Clock::duration bareTime{}, ourTime{};
    uint32_t n = 0;
    long bytes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        SendMessage(capture.GetSafeHwnd(), WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        if (!capture.TakeFrame(frame)) {
            state.SkipWithError("a changing picture was not passed on");
            return;
        }
        uint8_t* picture = frame.Data();
        long pictureSize = frame.Capacity();
        if (rgb) {
            RgbToI420(frame.Data(), converted.Data(), ColourSpaceOf(capture.m_Format), kWidth, kHeight);
            picture = converted.Data();
            pictureSize = converted.Capacity();
        }
        const int length = codec.Encode(picture, pictureSize, frame.Data(), frame.Capacity(), n == 0);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(bare.Encode(frames.i420[n % kPictures].data(), n == 0));
        const auto t2 = Clock::now();
        if (length <= 0) {
            state.SkipWithError("encode failed");
            return;
        }
        bytes += length;
        ourTime += t1 - t0;
        bareTime += t2 - t1;
        ++n;
    }
    DispatchPendingMessages();
    capture.Close();
    SetCaptureBackends({});
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ratio_to_bare_encore"] =
        std::chrono::duration<double>(ourTime).count() / std::chrono::duration<double>(bareTime).count();
    state.counters["ours_us_per_picture"] = 1e6 * std::chrono::duration<double>(ourTime).count() / iterations;
    state.counters["bare_us_per_picture"] =
        1e6 * std::chrono::duration<double>(bareTime).count() / iterations;
    state.counters["bytes_per_picture"] = static_cast<double>(bytes) / iterations;
}

BENCHMARK(BM_CaptureToBitstream)
    ->ArgName("rgb_camera")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
