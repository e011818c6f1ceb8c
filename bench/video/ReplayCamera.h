// A camera that hands out frames of the test pattern drawn beforehand, so the video benchmarks time our
// work on a picture and not the drawing of it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "video/CaptureBackend.h"
#include "video/CaptureTables.h"
#include "video/TestPatternCamera.h"

constexpr int kReplayWidth = 320;
constexpr int kReplayHeight = 240;
constexpr uint32_t kReplayPictures = 50;
inline const char* const kReplayCameraName = "Replay";

inline SBitmapInfoHeader ReplayHeader(bool rgb) {
    SBitmapInfoHeader h;
    h.biWidth = kReplayWidth;
    h.biHeight = kReplayHeight;
    h.biBitCount = rgb ? 24 : 12;
    h.biCompression = rgb ? 0 : kFourCCI420;
    h.biSizeImage = static_cast<uint32_t>(TestPatternFrameSize(h));
    return h;
}

// Each frame as the camera delivers it, and as I420 for the reference encode.
struct SReplayFrames {
    std::vector<std::vector<uint8_t>> camera, i420;
    explicit SReplayFrames(bool rgb) : camera(kReplayPictures), i420(kReplayPictures) {
        for (uint32_t n = 0; n < kReplayPictures; ++n) {
            camera[n].resize(TestPatternFrameSize(ReplayHeader(rgb)));
            RenderTestPattern(ReplayHeader(rgb), n, camera[n].data());
            i420[n].resize(TestPatternFrameSize(ReplayHeader(false)));
            RenderTestPattern(ReplayHeader(false), n, i420[n].data());
        }
    }
};

// Hands out the frames in turn, as a camera's buffers would; takes only its own format.
class CReplayDriver : public ICaptureDriver {
public:
    CReplayDriver(const SReplayFrames& frames, bool rgb) : m_frames(frames) {
        m_format.header = ReplayHeader(rgb);
    }
    bool GetFormat(SCaptureFormat& f) override {
        f = m_format;
        return true;
    }
    bool SetFormat(const SCaptureFormat& f) override {
        return f.header.biCompression == m_format.header.biCompression &&
               f.header.biBitCount == m_format.header.biBitCount;
    }
    bool Grab(ICaptureFrameSink& sink) override {
        const auto& frame = m_frames.camera[m_nNext++ % kReplayPictures];
        sink.OnCaptureFrame(frame.data(), frame.size());
        return true;
    }

private:
    const SReplayFrames& m_frames;
    SCaptureFormat m_format;
    uint32_t m_nNext = 0;
};

class CReplayBackend : public ICaptureBackend {
public:
    CReplayBackend(const SReplayFrames& frames, bool rgb) : m_frames(frames), m_bRgb(rgb) {}
    std::vector<std::string> DriverNames() override { return {kReplayCameraName}; }
    std::unique_ptr<ICaptureDriver> Connect(int) override {
        return std::make_unique<CReplayDriver>(m_frames, m_bRgb);
    }

private:
    const SReplayFrames& m_frames;
    bool m_bRgb;
};
