// The video service's send side: key frames, counted notifications, the RGB camera path, the pending key
// request, a lost camera and a stop while the channel is full — against the test-pattern camera.
#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <thread>

#include "support/TraceCapture.h"
#include "video/ColourConversion.h"
#include "video/TestPatternCamera.h"
#include "video/VideoCodecXvid.h"
#include "video/VideoPicture.h"
#include "video/VideoService.h"

namespace {

constexpr int kW = 320, kH = 240;

struct SHost : IVideoServiceHost {
    void SendVideoFormat(const SBitmapInfoHeader& h) override {
        header = h;
        ++formats;
    }
    void SendVideoStop() override { ++stops; }
    void OnCameraLost() override { ++lost; }
    SBitmapInfoHeader header;
    int formats = 0, stops = 0, lost = 0;
};

// Set from the send thread, read by the test's thread (the format only once the service has stopped).
struct SPreview : IVideoPicture {
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& f) override {
        size = rgb32.Size();
        format.CopyFrom(f);
        ++pictures;
    }
    void ClearPicture() override { size = 0; }
    std::atomic<long> size{0};
    CImageFormat format;
    std::atomic<int> pictures{0};
};

// The test pattern, optionally refusing I420 (an RGB-only camera) or failing every grab.
class CPatternCamera : public ICaptureBackend {
public:
    struct SDriver : ICaptureDriver {
        SDriver(std::unique_ptr<ICaptureDriver> d, CPatternCamera& c) : inner(std::move(d)), camera(c) {}
        bool GetFormat(SCaptureFormat& f) override { return inner->GetFormat(f); }
        bool SetFormat(const SCaptureFormat& f) override {
            if (camera.rgbOnly && f.header.biCompression != 0)
                return false;
            return inner->SetFormat(f);
        }
        bool Grab(ICaptureFrameSink& sink) override { return !camera.failGrab && inner->Grab(sink); }
        std::unique_ptr<ICaptureDriver> inner;
        CPatternCamera& camera;
    };
    std::vector<std::string> DriverNames() override { return pattern->DriverNames(); }
    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        return std::make_unique<SDriver>(pattern->Connect(index), *this);
    }
    std::shared_ptr<CTestPatternBackend> pattern = std::make_shared<CTestPatternBackend>();
    bool rgbOnly = false;
    std::atomic<bool> failGrab{false};
};

class VideoService : public ::testing::Test {
protected:
    void SetUp() override { SetCaptureBackends({m_camera}); }
    void TearDown() override {
        m_service.StopVideo();
        SetCaptureBackends({});
    }

    void Start() {
        m_service.SetPreview(&m_preview);
        ASSERT_TRUE(m_service.StartVideo(kTestPatternName, 15));
    }
    // One grab, with its notification delivered to the service.
    void Grab() {
        SendMessage(m_service.Capture().GetSafeHwnd(), WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        DispatchPendingMessages();
    }
    // The next queued picture: key byte, and whether a fresh decoder can start from it.
    struct SSent {
        bool key = false;
        bool decodesAlone = false;
        long number = -1;
    };
    SSent PopSent() {
        SSent s;
        uint32_t tag = 0;
        CByteBuffer record;
        EXPECT_TRUE(m_service.Channel().PopSend(tag, record));
        SVideoFrame frame;
        EXPECT_TRUE(ParseVideo(record.Data(), record.Size(), frame));
        EXPECT_EQ(frame.decodedSize, uint32_t(kW * kH * 3 / 2));
        s.key = frame.keyFrame;
        CVideoCodecXvid decoder;
        decoder.SetInputFormat(CImageFormat(m_host.header));
        EXPECT_TRUE(decoder.Create(false));
        std::vector<uint8_t> picture(kW * kH * 3 / 2);
        s.decodesAlone = decoder.Decode(frame.encoded, frame.encodedLength, picture.data(),
                                        long(picture.size()), frame.keyFrame) > 0;
        if (s.decodesAlone)
            s.number = ReadTestPatternNumber(picture.data(), kW, kH);
        return s;
    }

    std::shared_ptr<CPatternCamera> m_camera = std::make_shared<CPatternCamera>();
    SHost m_host;
    SPreview m_preview;
    CVideoService m_service{m_host, false};
};

TEST_F(VideoService, KeyFramesAfterStartAndAfterARequestEvenInAStillScene) {
    for (int run = 0; run < 2; ++run) {  // the second run meets the still picture of the first
        m_camera->pattern->SetStill(run == 1);
        Start();
        EXPECT_EQ(m_host.formats, run + 1);
        Grab();
        ASSERT_TRUE(m_service.SendPass());
        SSent first = PopSent();
        EXPECT_TRUE(first.key);
        EXPECT_TRUE(first.decodesAlone);
        m_service.StopVideo();
        EXPECT_EQ(m_host.stops, run + 1);
        EXPECT_EQ(m_preview.size, 0);
    }

    // Still: later grabs pass nothing on, until a key frame is asked for.
    Start();
    Grab();
    ASSERT_TRUE(m_service.SendPass());
    PopSent();
    Grab();
    EXPECT_FALSE(m_service.SendPass());
    m_service.RequestKeyFrame();
    Grab();
    ASSERT_TRUE(m_service.SendPass());
    const SSent again = PopSent();
    EXPECT_TRUE(again.key);
    EXPECT_TRUE(again.decodesAlone);

    // Moving: the pictures between are not key frames.
    m_camera->pattern->SetStill(false);
    Grab();  // still the frame shown while still
    Grab();
    ASSERT_TRUE(m_service.SendPass());
    EXPECT_FALSE(PopSent().key);
    EXPECT_EQ(m_service.Channel().SendCount(), 0);
}

TEST_F(VideoService, TwoNotificationsBeforeOnePassSendTheNewestFrameOnceAndNothingIsSentTwice) {
    Start();
    Grab();
    Grab();
    EXPECT_EQ(m_service.FramesSignalled(), 2);
    ASSERT_TRUE(m_service.SendPass());
    EXPECT_EQ(m_service.FramesSignalled(), 0);
    EXPECT_EQ(m_service.Capture().FullFrameCount(), 0);  // the older frame is not left to lag behind
    EXPECT_EQ(m_service.Channel().SendCount(), 1);
    EXPECT_EQ(PopSent().number, 1);
    // No notification: the bitstream left in the frame buffer is not encoded again.
    EXPECT_FALSE(m_service.SendPass());
    EXPECT_EQ(m_service.Channel().SendCount(), 0);
    EXPECT_EQ(m_service.PicturesSent(), 1u);
    EXPECT_EQ(m_preview.pictures, 1);
}

TEST_F(VideoService, AnRgbCameraSendsI420OfItsSizeAndPreviewsAt32Bits) {
    m_camera->rgbOnly = true;
    Start();
    EXPECT_EQ(m_service.Capture().m_Format.m_Header.header.biCompression, 0u);
    EXPECT_EQ(m_host.header.biCompression, kFourCCI420);
    EXPECT_EQ(m_host.header.biWidth, kW);
    EXPECT_EQ(m_host.header.biHeight, kH);
    EXPECT_EQ(m_host.header.biSizeImage, uint32_t(kW * kH * 3 / 2));
    Grab();
    ASSERT_TRUE(m_service.SendPass());
    EXPECT_EQ(m_preview.format.m_Header.header.biBitCount, 32);
    EXPECT_EQ(m_preview.size, long(kW) * kH * 4);
    const SSent sent = PopSent();
    ASSERT_TRUE(sent.decodesAlone);
    EXPECT_EQ(sent.number, 0);
}

TEST_F(VideoService, AKeyFrameThatCouldNotBeQueuedStaysOwed) {
    for (int i = 0; i < CChannel::kSlots; ++i)
        ASSERT_TRUE(m_service.Channel().PushSend(kTagVideo, "x", 1));
    Start();
    Grab();
    EXPECT_TRUE(m_service.SendPass());
    EXPECT_EQ(m_service.PicturesSent(), 0u);
    uint32_t tag = 0;
    CByteBuffer junk;
    while (m_service.Channel().PopSend(tag, junk)) {
    }
    Grab();
    ASSERT_TRUE(m_service.SendPass());
    const SSent sent = PopSent();
    EXPECT_TRUE(sent.key);
    EXPECT_TRUE(sent.decodesAlone);
}

TEST_F(VideoService, GrabsThatKeepFailingReportTheCameraLostOnce) {
    Start();
    m_camera->failGrab = true;
    for (int i = 0; i < CVideoService::kLostCameraErrors - 1; ++i)
        Grab();
    EXPECT_EQ(m_host.lost, 0);
    for (int i = 0; i < 3; ++i)
        Grab();
    EXPECT_EQ(m_host.lost, 1);
}

// With its own threads: a send loop waiting for room in a channel nobody empties ends at the stop
// without being forced.
TEST(VideoServiceThreaded, StopWhileTheChannelIsFullEndsTheLoopWithoutForce) {
    auto camera = std::make_shared<CTestPatternBackend>();
    camera->SetStill(true);  // one picture, then no notification that could mask the wait
    SetCaptureBackends({camera});
    vp::test::CTraceCapture trace;
    SHost host;
    SPreview preview;
    CVideoService service(host);
    service.SetPreview(&preview);
    for (int i = 0; i < CChannel::kSlots; ++i)
        ASSERT_TRUE(service.Channel().PushSend(kTagVideo, "x", 1));
    ASSERT_TRUE(service.StartVideo(kTestPatternName, 30));
    // Until the one picture has been shown: the loop then encodes it and waits for room.
    ASSERT_TRUE(PumpMessagesUntil([&] { return preview.pictures > 0; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    service.StopVideo();
    EXPECT_EQ(trace.Count("Break de Thread"), 0);
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(service.PicturesSent(), 0u);
    SetCaptureBackends({});
}

}  // namespace
