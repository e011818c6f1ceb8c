// Capture: the driver list, format set-up through the presets, change detection, the frame pool and the
// pacing thread, against scripted drivers and the test-pattern camera.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "support/MessageRecorder.h"
#include "support/TraceCapture.h"
#include "video/CaptureDrivers.h"
#include "video/DeviceVideoCapture.h"
#include "video/FrameChange.h"
#include "video/TestPatternCamera.h"
#include "video/VideoCaptureWindow.h"

namespace {

constexpr int kW = 320, kH = 240;
constexpr size_t kI420Size = kW * kH * 3 / 2;

// A driver that takes the formats it is told to and delivers whatever frame the test puts in `frame`.
struct SScript {
    bool acceptsI420 = true;
    bool acceptsRgb = true;
    std::vector<uint8_t> frame = std::vector<uint8_t>(kI420Size, 100);
    int connectedIndex = -1;
    bool failGrab = false;
};

class CScriptedDriver : public ICaptureDriver {
public:
    explicit CScriptedDriver(SScript& s) : m_s(s) {}
    bool GetFormat(SCaptureFormat& f) override {
        f = m_format;
        return true;
    }
    bool SetFormat(const SCaptureFormat& f) override {
        const bool i420 = f.header.biCompression == kFourCCI420;
        const bool rgb = f.header.biCompression == 0 && f.header.biBitCount == 24;
        if (!(i420 && m_s.acceptsI420) && !(rgb && m_s.acceptsRgb))
            return false;
        m_format = f;
        if (i420)
            m_format.header.biSizeImage = kI420Size;
        return true;
    }
    bool Grab(ICaptureFrameSink& sink) override {
        if (m_s.failGrab)
            return false;
        sink.OnCaptureFrame(m_s.frame.data(), m_s.frame.size());
        return true;
    }

private:
    SScript& m_s;
    SCaptureFormat m_format;
};

class CScriptedBackend : public ICaptureBackend {
public:
    CScriptedBackend(SScript& s, std::vector<std::string> names) : m_s(s), m_names(std::move(names)) {}
    std::vector<std::string> DriverNames() override { return m_names; }
    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        m_s.connectedIndex = index;
        return std::make_unique<CScriptedDriver>(m_s);
    }

private:
    SScript& m_s;
    std::vector<std::string> m_names;
};

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCaptureReferenceFrame();
        SetCaptureBackends({std::make_shared<CScriptedBackend>(m_script, std::vector<std::string>{"Cam"})});
    }
    void TearDown() override { SetCaptureBackends({}); }

    // Starts an I420 capture notifying m_notify, and grabs one frame per call of Grab().
    void StartI420() {
        ASSERT_TRUE(m_capture.StartPreset("Cam", nullptr, 3));
        m_capture.m_hWndNotify = m_notify.GetSafeHwnd();
    }
    void Grab() {
        SendMessage(m_capture.GetSafeHwnd(), WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        DispatchPendingMessages();
    }
    int Posted() const { return m_notify.Count(WM_DEVICE_VIDEO_FRAME); }
    // Adds `delta` to the luma of one block-sized area (20 x 30 at 320 x 240).
    void TouchBlock(int delta) {
        for (int y = 30; y < 60; ++y)
            for (int x = 40; x < 60; ++x)
                m_script.frame[size_t(y) * kW + x] += static_cast<uint8_t>(delta);
    }

    SScript m_script;
    CVideoCaptureWindow m_capture;
    vp::test::CMessageRecorder m_notify;
};

TEST_F(Capture, DriverListIsOrderedByNameKeepsTheLowerIndexAndUnknownNamesConnectTheFirst) {
    SetCaptureBackends(
        {std::make_shared<CScriptedBackend>(m_script, std::vector<std::string>{"Zeta", "", "Alpha"}),
         std::make_shared<CScriptedBackend>(m_script, std::vector<std::string>{"Zeta"})});
    const CDriverList list = EnumerateDrivers();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.begin()->first, "Alpha");
    EXPECT_EQ(list.at("Zeta"), 0);
    EXPECT_EQ(FindDriver("Alpha"), 2);
    EXPECT_EQ(FindDriver("Nope"), -1);

    for (const char* name : {"Nope", ""}) {
        ASSERT_TRUE(m_capture.StartPreset(name, nullptr, 3)) << name;
        EXPECT_EQ(m_script.connectedIndex, 0);
        EXPECT_EQ(m_capture.GetName(), name);
        EXPECT_TRUE(m_capture.Close());
    }
    EXPECT_FALSE(m_capture.Close());
    EXPECT_FALSE(m_capture.StartKeyed("Zeta", nullptr, 1));

    SetCaptureBackends({});
    EXPECT_FALSE(m_capture.StartPreset("", nullptr, 3));  // no driver at all
    EXPECT_FALSE(m_capture.IsOpen());
}

TEST_F(Capture, PresetsEndInI420OrInRgbAndAFailedStartLeavesNothingOpen) {
    ASSERT_TRUE(m_capture.StartPreset("Cam", nullptr, 3));
    EXPECT_EQ(m_capture.m_Format.m_Header.header.biCompression, kFourCCI420);
    EXPECT_EQ(m_capture.m_Format.Width(), 320);
    EXPECT_EQ(m_capture.m_Format.Height(), 240);
    EXPECT_EQ(m_capture.m_Format.m_Header.header.biBitCount, 12);
    EXPECT_FALSE(m_capture.StartPreset("Cam", nullptr, 3));  // already open
    m_capture.Close();

    m_script.acceptsI420 = false;
    int started = -1;
    for (int preset : kCapturePresetOrder) {
        if (m_capture.StartPreset("Cam", nullptr, preset)) {
            started = preset;
            break;
        }
        EXPECT_FALSE(m_capture.IsOpen());
    }
    EXPECT_EQ(started, 5);
    EXPECT_EQ(m_capture.m_Format.m_Header.header.biCompression, 0u);
    EXPECT_EQ(m_capture.m_Format.m_Header.header.biBitCount, 24);
    EXPECT_EQ(m_capture.m_Format.m_Header.header.biSizeImage, 320u * 240 * 3);
}

TEST_F(Capture, AStillSceneIsPassedOnceThenOnlyABlockMovedByMoreThanFive) {
    StartI420();
    Grab();
    EXPECT_EQ(m_capture.FullFrameCount(), 1);  // the first frame always passes
    EXPECT_EQ(Posted(), 1);
    CDataBuffer taken;
    ASSERT_TRUE(m_capture.TakeFrame(taken));
    EXPECT_EQ(taken.Size(), long(kI420Size));
    for (int i = 0; i < 3; ++i)
        Grab();
    EXPECT_EQ(Posted(), 1);  // still scene: nothing passed, nothing posted

    TouchBlock(5);
    Grab();
    EXPECT_EQ(Posted(), 1);
    TouchBlock(1);  // now 6 above the reference
    Grab();
    EXPECT_EQ(Posted(), 2);
    EXPECT_EQ(m_capture.FullFrameCount(), 1);

    // Only luma counts: chroma changes pass nothing.
    std::memset(m_script.frame.data() + kW * kH, 0, kW * kH / 2);
    Grab();
    EXPECT_EQ(m_capture.FullFrameCount(), 1);

    // The reference outlives a restart.
    m_capture.Close();
    StartI420();
    Grab();
    EXPECT_EQ(m_capture.FullFrameCount(), 1);
}

TEST_F(Capture, AFullPoolDropsNewFramesButStillPostsAndShortFramesAreDropped) {
    StartI420();
    for (int i = 0; i < CVideoCaptureWindow::kFrameCount + 1; ++i) {
        m_script.frame[0] = static_cast<uint8_t>(i);
        TouchBlock(10);
        Grab();
    }
    EXPECT_EQ(m_capture.FullFrameCount(), CVideoCaptureWindow::kFrameCount);
    EXPECT_EQ(Posted(), CVideoCaptureWindow::kFrameCount + 1);

    CDataBuffer taken;
    ASSERT_TRUE(m_capture.TakeFrame(taken));
    EXPECT_EQ(taken.Data()[0], 0);  // oldest first
    while (m_capture.TakeFrame(taken)) {
    }
    EXPECT_EQ(taken.Data()[0], CVideoCaptureWindow::kFrameCount - 1);
    taken.Data()[0] = 99;
    EXPECT_FALSE(m_capture.TakeFrame(taken));
    EXPECT_EQ(taken.Data()[0], 99);

    m_script.frame.resize(kI420Size - 1);
    TouchBlock(40);
    Grab();
    EXPECT_EQ(m_capture.FullFrameCount(), 0);
    EXPECT_EQ(Posted(), CVideoCaptureWindow::kFrameCount + 1);

    m_script.failGrab = true;
    Grab();
    EXPECT_EQ(m_notify.Count(WM_DEVICE_VIDEO_ERROR), 1);

    // Without a consumer, frames are ignored.
    m_script.failGrab = false;
    m_script.frame.resize(kI420Size);
    TouchBlock(40);
    m_capture.m_hWndNotify = nullptr;
    Grab();
    EXPECT_EQ(m_capture.FullFrameCount(), 0);
}

TEST(FrameChange, ColourPixelsSumTheirChannelDifferencesAndUncuttablePicturesCountAsChanged) {
    std::vector<uint8_t> a(32 * 16 * 3, 50), b = a;
    b[0] += 2;  // one pixel of block 0: block mean of each channel moves by less than 1
    EXPECT_FALSE(FrameChanged(a.data(), b.data(), 32, 16, 3, 2, 2, 5, 1));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = &b[(size_t(y) * 32 + x) * 3];
            p[0] = 52, p[1] = 52, p[2] = 52;  // +2 on three channels: 6 > 5
        }
    EXPECT_TRUE(FrameChanged(a.data(), b.data(), 32, 16, 3, 2, 2, 5, 1));
    EXPECT_FALSE(FrameChanged(a.data(), b.data(), 32, 16, 3, 2, 2, 6, 1));
    EXPECT_FALSE(FrameChanged(a.data(), b.data(), 32, 16, 3, 2, 2, 5, 2));  // one block is not two
    EXPECT_TRUE(FrameChanged(a.data(), a.data(), 8, 8, 1, 16, 8, 5, 1));    // blocks of no pixels
    EXPECT_TRUE(FrameChanged(a.data(), a.data(), 32, 16, 1, 128, 128, 5, 1));
}

TEST(DeviceVideoCapture, RatesOutsideOneToThirtyAreIgnored) {
    CDeviceVideoCapture pacer;
    EXPECT_EQ(pacer.GetFrameRate(), 15);
    EXPECT_EQ(pacer.GetInterval(), 66);
    for (int bad : {0, 31, -1}) {
        pacer.SetFrameRate(bad);
        EXPECT_EQ(pacer.GetFrameRate(), 15);
    }
    pacer.SetFrameRate(30);
    EXPECT_EQ(pacer.GetInterval(), 33);
    pacer.SetFrameRate(7);
    EXPECT_EQ(pacer.GetInterval(), 142);
}

// The pacer grabs on the thread that started capture, and stopping it while it waits for a grab that
// thread must answer ends it without force.
TEST(DeviceVideoCapture, GrabsRunOnTheStartingThreadAndStopsAreOrderly) {
    ResetCaptureReferenceFrame();
    auto camera = std::make_shared<CTestPatternBackend>();
    SetCaptureBackends({camera});
    vp::test::CTraceCapture trace;
    vp::test::CMessageRecorder notify;
    CVideoCaptureWindow capture;
    ASSERT_TRUE(capture.StartPreset(kTestPatternName, nullptr, 3));
    capture.m_hWndNotify = notify.GetSafeHwnd();

    for (int round = 0; round < 20; ++round) {
        CDeviceVideoCapture pacer;
        pacer.SetFrameRate(30);
        ASSERT_TRUE(pacer.StartCapture(&capture));
        const uint32_t before = camera->FramesGrabbed();
        // Let grabs queue up unanswered, then stop without dispatching anything but sent messages.
        while (camera->FramesGrabbed() == before) {
            DispatchPendingMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 5 * 10));
        pacer.Stop();
        EXPECT_FALSE(pacer.IsRunning());
    }
    EXPECT_EQ(trace.Count("Break de Thread"), 0);
    EXPECT_GT(notify.Count(WM_DEVICE_VIDEO_FRAME), 0);
    for (const auto& id : notify.threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    CDataBuffer frame;
    ASSERT_TRUE(capture.TakeFrame(frame));
    EXPECT_GE(ReadTestPatternNumber(frame.Data(), 320, 240), 0);
    SetCaptureBackends({});
}

}  // namespace
