// The virtual "Test pattern" camera: a moving picture at any preset format, the same bytes for the same
// frame number, with a still mode that repeats one frame. Listed only when VELAPHON_VIRTUAL_CAMERA=1 or a
// program adds it, so a user without a camera never sends a test picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "video/CaptureBackend.h"

constexpr const char* kTestPatternName = "Test pattern";

// Bits of the frame number drawn as black and white cells along the bottom of the picture.
constexpr int kTestPatternCounterBits = 16;

// The bytes a frame of `header`'s format takes: I420/IYUV at 12 bits, or bottom-up RGB at 24 or 32 bits
// with rows padded to 4 bytes. 0 for any other format or a width or height that is not positive and even.
size_t TestPatternFrameSize(const SBitmapInfoHeader& header);
// Draws frame `frameNumber` into `out` (TestPatternFrameSize bytes). False for an unsupported format.
bool RenderTestPattern(const SBitmapInfoHeader& header, uint32_t frameNumber, uint8_t* out);
// Reads the frame number back from the counter cells of a (decoded) I420 picture; -1 when they are not
// clearly black or white.
long ReadTestPatternNumber(const uint8_t* i420, int width, int height);

class CTestPatternBackend : public ICaptureBackend {
public:
    explicit CTestPatternBackend(std::string name = kTestPatternName) : m_strName(std::move(name)) {}

    // Still mode: every grab repeats the frame it would have delivered next.
    void SetStill(bool still) { m_bStill = still; }
    // Frames grabbed so far by any driver of this back end.
    uint32_t FramesGrabbed() const { return m_nFrames.load(); }
    // The number of the frame a grab delivers now; it moves on unless the camera is still.
    uint32_t TakeFrameNumber() { return m_bStill ? m_nFrames.load() : m_nFrames.fetch_add(1); }

    std::vector<std::string> DriverNames() override { return {m_strName}; }
    std::unique_ptr<ICaptureDriver> Connect(int index) override;

private:
    std::string m_strName;
    std::atomic<bool> m_bStill{false};
    std::atomic<uint32_t> m_nFrames{0};
};
