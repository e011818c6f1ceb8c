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

    Clock::duration bareTime{}, grabTime{}, ourTime{};
    uint32_t n = 0;
    long bytes = 0;
    for (auto _ : state) {
        // Turns alternate, so neither side always finds the picture already in the cache.
        const bool bareFirst = n % 2 == 1;
        auto t = Clock::now();
        if (bareFirst) {
            benchmark::DoNotOptimize(bare.Encode(frames.i420[n % kPictures].data(), false));
            const auto t1 = Clock::now();
            bareTime += t1 - t;
            t = t1;
        }
        SendMessage(capture.GetSafeHwnd(), WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        const auto grabbed = Clock::now();
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
        const auto encoded = Clock::now();
        grabTime += grabbed - t;
        ourTime += encoded - grabbed;
        if (!bareFirst) {
            benchmark::DoNotOptimize(bare.Encode(frames.i420[n % kPictures].data(), n == 0));
            bareTime += Clock::now() - encoded;
        }
        if (length <= 0) {
            state.SkipWithError("encode failed");
            return;
        }
        bytes += length;
        ++n;
    }
    DispatchPendingMessages();
    capture.Close();
    SetCaptureBackends({});
    const double iterations = static_cast<double>(state.iterations());
    const double bareSeconds = std::chrono::duration<double>(bareTime).count();
    // Take, convert, encode: what the send loop does with a frame the camera has handed over.
    state.counters["ratio_to_bare_encore"] = std::chrono::duration<double>(ourTime).count() / bareSeconds;
    // The same with the grab (copy into the pool, change detection) counted in.
    state.counters["ratio_with_grab"] =
        std::chrono::duration<double>(ourTime + grabTime).count() / bareSeconds;
    state.counters["grab_us_per_picture"] =
        1e6 * std::chrono::duration<double>(grabTime).count() / iterations;
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
