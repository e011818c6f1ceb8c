// V4L2 cameras through scripted nodes: listing, format negotiation, conversion of the YUYV and MJPEG
// frames USB cameras send, streaming, and cameras that go away. No real camera is touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/Process.h"
#include "unit/video/V4l2TestFrames.h"
#include "video/TestPatternCamera.h"
#include "video/V4l2CameraDriver.h"
#include "video/V4l2Capture.h"
#include "video/V4l2ScriptedDevice.h"

namespace {

using Camera = std::shared_ptr<CV4l2ScriptedCamera>;
using Sizes = std::vector<std::pair<uint32_t, uint32_t>>;

const Sizes kUsualSizes = {{640, 480}, {320, 240}};

SCaptureFormat Request(uint32_t compression, int bits, int width = 320, int height = 240) {
    SCaptureFormat f;
    f.header.biSize = kBitmapInfoHeaderSize;
    f.header.biWidth = width;
    f.header.biHeight = height;
    f.header.biPlanes = 1;
    f.header.biBitCount = static_cast<uint16_t>(bits);
    f.header.biCompression = compression;
    return f;
}
const SCaptureFormat kI420 = Request(kFourCCI420, 12), kIyuv = Request(kFourCCIYUV, 12),
                     kRgb = Request(0, 24);

// The test pattern as the system draws it at 320 x 240 (I420 or bottom-up RGB).
std::vector<uint8_t> Reference(const SCaptureFormat& format, uint32_t number) {
    std::vector<uint8_t> out(TestPatternFrameSize(format.header));
    RenderTestPattern(format.header, number, out.data());
    return out;
}

// What the camera sees: the 320 x 240 test pattern, each pixel repeated for larger frames; top-down BGR.
std::vector<uint8_t> Scene(uint32_t width, uint32_t height, uint32_t number) {
    const auto rgb = Reference(kRgb, number);
    const uint32_t scale = width / 320;
    std::vector<uint8_t> out(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out[(size_t(y) * width + x) * 3 + c] =
                    rgb[size_t(239 - y / scale) * 960 + (x / scale) * 3 + c];
    return out;
}

SV4l2ScriptedFrame Shoot(uint32_t fourcc, uint32_t width, uint32_t height, uint32_t number,
                         bool huffman = true) {
    const auto scene = Scene(width, height, number);
    const int w = int(width), h = int(height);
    if (fourcc == V4L2_PIX_FMT_MJPEG)
        return {v4l2test::EncodeMjpeg(scene, w, h, huffman), {}, false};
    return {v4l2test::PackYuyv(scene, w, h), {}, false};
}

// A camera in front of the moving test pattern, or of its first frame when `still`.
Camera MakeCamera(const std::string& card, uint32_t fourcc, const Sizes& sizes = kUsualSizes,
                  bool huffman = true, bool still = false) {
    auto camera = std::make_shared<CV4l2ScriptedCamera>(
        card, std::vector<CV4l2ScriptedCamera::SPixelFormat>{{fourcc, sizes}});
    camera->SetFrameMaker([huffman, still](uint32_t f, uint32_t w, uint32_t h, uint32_t n) {
        return std::optional(Shoot(f, w, h, still ? 0 : n, huffman));
    });
    return camera;
}

struct SRig {
    std::shared_ptr<CV4l2ScriptedFolder> folder = std::make_shared<CV4l2ScriptedFolder>();
    std::shared_ptr<ICaptureBackend> backend = MakeV4l2CaptureBackend(folder);

    explicit SRig(const Camera& camera = nullptr) {
        if (camera)
            folder->Add("video0", camera);
    }
};

class CFrameCopy : public ICaptureFrameSink {
public:
    void OnCaptureFrame(const uint8_t* data, size_t size) override { bytes.assign(data, data + size); }
    std::vector<uint8_t> bytes;
};

long FrameNumber(const std::vector<uint8_t>& i420) {
    return ReadTestPatternNumber(i420.data(), 320, 240);
}

TEST(V4l2Listing, CardNamesFollowNodeNumbersAndOnlyCapturingNodesCount) {
    SRig rig;
    auto z = MakeCamera("Cam Z", V4L2_PIX_FMT_YUYV), a = MakeCamera("Cam A", V4L2_PIX_FMT_YUYV);
    auto twin = MakeCamera("Cam A", V4L2_PIX_FMT_YUYV), b = MakeCamera("Cam B", V4L2_PIX_FMT_MJPEG);
    auto locked = MakeCamera("Locked", V4L2_PIX_FMT_YUYV), stray = MakeCamera("Stray", V4L2_PIX_FMT_YUYV);
    locked->SetOpenFails(true);
    rig.folder->Add("video10", b);
    rig.folder->Add("video2", a);
    rig.folder->Add("video3", std::make_shared<CV4l2ScriptedCamera>(
                                  "Cam A", std::vector<CV4l2ScriptedCamera::SPixelFormat>{},
                                  V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING));
    rig.folder->Add("video0", z);
    rig.folder->Add("video1", locked);
    rig.folder->Add("video4", twin);
    rig.folder->Add("video", stray);
    rig.folder->Add("video5x", stray);
    EXPECT_EQ(rig.backend->DriverNames(), (std::vector<std::string>{"Cam Z", "Cam A", "Cam A", "Cam B"}));
    EXPECT_EQ(z->State().openHandles + a->State().openHandles + b->State().openHandles, 0);

    auto driver = rig.backend->Connect(3);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(b->State().openHandles, 1);
    EXPECT_EQ(twin->State().openHandles, 0);
    EXPECT_EQ(rig.backend->Connect(4), nullptr);
    EXPECT_EQ(rig.backend->Connect(-1), nullptr);
    driver.reset();
    EXPECT_EQ(b->State().openHandles, 0);

    // A camera unplugged between listing and connecting.
    rig.folder->Remove("video10");
    EXPECT_EQ(rig.backend->Connect(3), nullptr);
}

TEST(V4l2Listing, TheSystemFolderNeedsNoCamera) {
    vp::test::CTempDir dir("vp-v4l2");
    std::ofstream(dir.File("video0")) << "not a device";
    std::filesystem::create_directory(dir.File("video1"));
    const auto backend = MakeV4l2CaptureBackend(MakeV4l2SystemFolder(dir.Path()));
    EXPECT_TRUE(backend->DriverNames().empty());
    EXPECT_EQ(backend->Connect(0), nullptr);

    bool anyNode = false;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/dev", ec))
        anyNode |= e.path().filename().string().rfind("video", 0) == 0;
    if (!anyNode) {
        EXPECT_TRUE(MakeV4l2CaptureBackend()->DriverNames().empty());
    }
}

TEST(V4l2Formats, EveryRequestIsMetByYuyvAndMjpegCameras) {
    for (const uint32_t fourcc : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        SCOPED_TRACE(fourcc == V4L2_PIX_FMT_YUYV ? "YUYV" : "MJPEG");
        auto camera = MakeCamera("Cam", fourcc);
        SRig rig(camera);
        auto driver = rig.backend->Connect(0);
        ASSERT_NE(driver, nullptr);
        SCaptureFormat f;
        ASSERT_TRUE(driver->GetFormat(f));  // before any request: the camera's current size, as RGB
        EXPECT_EQ(f.header.biBitCount, 24);
        EXPECT_EQ(f.header.biWidth, 640);
        for (const SCaptureFormat& request : {kI420, kIyuv, kRgb}) {
            ASSERT_TRUE(driver->SetFormat(request));
            ASSERT_TRUE(driver->GetFormat(f));
            EXPECT_EQ(f.header.biCompression, request.header.biCompression);
            EXPECT_EQ(f.header.biBitCount, request.header.biBitCount);
            EXPECT_EQ(f.header.biWidth, 320);
            EXPECT_EQ(f.header.biHeight, 240);
            EXPECT_EQ(f.header.biSizeImage, request.header.biBitCount == 12 ? 115200u : 230400u);
            const auto state = camera->State();
            EXPECT_EQ(state.fourcc, fourcc);
            EXPECT_EQ(state.width, 320u);
            EXPECT_TRUE(state.streaming);
            CFrameCopy sink;
            ASSERT_TRUE(driver->Grab(sink));
            EXPECT_EQ(sink.bytes.size(), f.header.biSizeImage);
        }
    }
}

TEST(V4l2Formats, WhatCannotBeMetIsRefusedAndTheStreamGoesOn) {
    {
        SRig rig(MakeCamera("Wide", V4L2_PIX_FMT_YUYV, {{1280, 720}, {160, 120}}));
        auto driver = rig.backend->Connect(0);
        ASSERT_NE(driver, nullptr);
        for (const SCaptureFormat& request : {kI420, kIyuv, kRgb})
            EXPECT_FALSE(driver->SetFormat(request));
    }
    auto camera = MakeCamera("Cam", V4L2_PIX_FMT_YUYV);
    SRig rig(camera);
    auto driver = rig.backend->Connect(0);
    ASSERT_TRUE(driver->SetFormat(kI420));
    SCaptureFormat topDown = kRgb;
    topDown.header.biHeight = -240;
    for (const SCaptureFormat& request :
         {Request(0, 16), Request(0, 32), Request(kFourCCI420, 12, 322, 240),
          Request(kFourCCI420, 12, 321, 241), Request(kFourCCI420, 12, 1280, 720), topDown,
          Request(MakeFourCC('Y', 'U', 'Y', '2'), 16)})
        EXPECT_FALSE(driver->SetFormat(request));
    SCaptureFormat f;
    ASSERT_TRUE(driver->GetFormat(f));
    EXPECT_EQ(f.header.biCompression, kFourCCI420);
    CFrameCopy sink;
    EXPECT_TRUE(driver->Grab(sink));

    // Another program holds the camera: refused, so the user hears that video cannot start.
    auto second = rig.backend->Connect(0);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->SetFormat(kI420));
    EXPECT_FALSE(second->Grab(sink));
    EXPECT_TRUE(driver->Grab(sink));
}

TEST(V4l2Conversion, FramesShowThePictureInFrontOfTheCamera) {
    struct SCase {
        const char* name;
        uint32_t fourcc;
        Sizes sizes;
        bool huffman;
        double minI420Psnr, minRgbPsnr;  // libv4lconvert's own YUYV to RGB formulas are approximate
    };
    const SCase cases[] = {
        {"YUYV", V4L2_PIX_FMT_YUYV, kUsualSizes, true, 55, 29},
        {"MJPEG", V4L2_PIX_FMT_MJPEG, kUsualSizes, true, 42, 31},
        {"MJPEG without Huffman tables", V4L2_PIX_FMT_MJPEG, kUsualSizes, false, 42, 31},
        {"YUYV halved", V4L2_PIX_FMT_YUYV, {{640, 480}}, true, 42, 29},
        {"MJPEG halved", V4L2_PIX_FMT_MJPEG, {{640, 480}}, true, 42, 33},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SRig rig(MakeCamera("Cam", c.fourcc, c.sizes, c.huffman, true));
        auto driver = rig.backend->Connect(0);
        ASSERT_NE(driver, nullptr);
        for (const SCaptureFormat& request : {kI420, kRgb}) {
            ASSERT_TRUE(driver->SetFormat(request));
            CFrameCopy sink;
            ASSERT_TRUE(driver->Grab(sink));
            const auto expected = Reference(request, 0);
            ASSERT_EQ(sink.bytes.size(), expected.size());
            const double psnr = v4l2test::Psnr(sink.bytes.data(), expected.data(), expected.size());
            const bool rgb = request.header.biBitCount == 24;
            EXPECT_GE(psnr, rgb ? c.minRgbPsnr : c.minI420Psnr) << request.header.biBitCount;
            if (!rgb)
                continue;
            // Bottom-up: the picture upside down is far from what arrived.
            std::vector<uint8_t> flipped(expected.size());
            for (size_t row = 0; row < 240; ++row)
                std::copy_n(&expected[(239 - row) * 960], 960, &flipped[row * 960]);
            EXPECT_LT(v4l2test::Psnr(sink.bytes.data(), flipped.data(), flipped.size()), psnr - 15);
        }
    }
}

TEST(V4l2Streaming, GrabsTakeTheNewestFrameAndPassOverDamagedOnes) {
    for (const uint32_t fourcc : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}) {
        SCOPED_TRACE(fourcc == V4L2_PIX_FMT_YUYV ? "YUYV" : "MJPEG");
        auto camera = MakeCamera("Cam", fourcc);
        camera->SetFrameMaker([](uint32_t f, uint32_t w, uint32_t h, uint32_t n) {
            SV4l2ScriptedFrame frame = Shoot(f, w, h, n);
            if (n == 3)
                frame.bytes.resize(100);  // cut short: part of a row, or a JPEG header alone
            if (n == 4)
                frame.error = true;
            if (n == 5) {
                // Claims more than the buffer holds; a JPEG decoder looks for its end marker up to there.
                if (f == V4L2_PIX_FMT_MJPEG) {
                    frame.bytes.resize(frame.bytes.size() - 2);  // no end marker, zeros to the buffer's end
                    frame.bytes.resize(size_t(w) * h * 2);
                }
                frame.bytesUsed = f == V4L2_PIX_FMT_MJPEG ? w * h * 2 + 8192 : 0xFFFFFFFFu;
            }
            return std::optional(frame);
        });
        SRig rig(camera);
        auto driver = rig.backend->Connect(0);
        ASSERT_TRUE(driver->SetFormat(kI420));
        CFrameCopy sink;
        camera->SetFramesPerPoll(3);
        ASSERT_TRUE(driver->Grab(sink));
        EXPECT_EQ(FrameNumber(sink.bytes), 2);
        camera->SetFramesPerPoll(1);
        ASSERT_TRUE(driver->Grab(sink));
        EXPECT_EQ(FrameNumber(sink.bytes), 5);
        // Every buffer goes back to the camera: grabs go on well past their number.
        for (long n = 6; n < 6 + 3 * long(CV4l2CameraDriver::kStreamBuffers); ++n) {
            ASSERT_TRUE(driver->Grab(sink));
            EXPECT_EQ(FrameNumber(sink.bytes), n);
        }
    }
}

TEST(V4l2Streaming, CamerasThatStopOrGoAwayEndGrabsWithoutWaitingLong) {
    auto camera = MakeCamera("Cam", V4L2_PIX_FMT_MJPEG);
    SRig rig(camera);
    auto driver = rig.backend->Connect(0);
    ASSERT_TRUE(driver->SetFormat(kRgb));
    CFrameCopy sink;
    ASSERT_TRUE(driver->Grab(sink));

    // A pause in the stream fails one grab; the next frame is delivered again.
    camera->SetFramesPerPoll(0);
    EXPECT_FALSE(driver->Grab(sink));
    camera->SetFramesPerPoll(1);
    EXPECT_TRUE(driver->Grab(sink));

    camera->Unplug();
    EXPECT_FALSE(driver->Grab(sink));
    const int polls = camera->State().polls;
    EXPECT_FALSE(driver->Grab(sink));
    EXPECT_FALSE(driver->SetFormat(kI420));
    EXPECT_EQ(camera->State().polls, polls);  // gone for good: no more waiting
    EXPECT_LE(camera->State().longestPollMs, CV4l2CameraDriver::kGrabWaitMs);
    driver.reset();
    const auto state = camera->State();
    EXPECT_EQ(state.openHandles, 0);
    EXPECT_EQ(state.liveMappings, 0);
}

TEST(V4l2Streaming, FormatChangesAndClosingGiveTheBuffersBack) {
    auto camera = MakeCamera("Cam", V4L2_PIX_FMT_YUYV);
    SRig rig(camera);
    auto driver = rig.backend->Connect(0);
    EXPECT_FALSE(camera->State().streaming);
    CFrameCopy sink;
    ASSERT_TRUE(driver->Grab(sink));  // without a request: the format read back at connection
    EXPECT_EQ(sink.bytes.size(), 640u * 480 * 3);
    ASSERT_TRUE(driver->SetFormat(kI420));
    ASSERT_TRUE(driver->SetFormat(kRgb));
    auto state = camera->State();
    EXPECT_TRUE(state.streaming);
    EXPECT_EQ(state.liveMappings, int(CV4l2CameraDriver::kStreamBuffers));
    driver.reset();
    state = camera->State();
    EXPECT_FALSE(state.streaming);
    EXPECT_EQ(state.liveMappings, 0);
    EXPECT_EQ(state.buffers, 0);
    EXPECT_EQ(state.openHandles, 0);
}

}  // namespace
