// The settings page's camera preview without its window: the presets tried in order, the picture at 32
// bits whatever the camera delivers, stopping, and a lost camera — against the test-pattern camera.
#include <gtest/gtest.h>

#include "app/VideoPreview.h"
#include "video/TestPatternCamera.h"
#include "video/VideoPicture.h"
#include "video/VideoService.h"

namespace {

struct SView : IVideoPicture {
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& f) override {
        size = rgb32.Size();
        format.CopyFrom(f);
        ++pictures;
    }
    void ClearPicture() override {
        size = 0;
        ++clears;
    }
    long size = 0;
    CImageFormat format;
    int pictures = 0, clears = 0;
};

// The test pattern, refusing the formats a test names or failing its grabs; it counts the formats asked.
class CPickyCamera : public ICaptureBackend {
public:
    struct SDriver : ICaptureDriver {
        SDriver(std::unique_ptr<ICaptureDriver> d, CPickyCamera& c) : inner(std::move(d)), camera(c) {}
        bool GetFormat(SCaptureFormat& f) override { return inner->GetFormat(f); }
        bool SetFormat(const SCaptureFormat& f) override {
            camera.asked.push_back(f.header.biCompression);
            if (camera.refuseAll || (camera.rgbOnly && f.header.biCompression != 0))
                return false;
            return inner->SetFormat(f);
        }
        bool Grab(ICaptureFrameSink& sink) override { return !camera.failGrab && inner->Grab(sink); }
        std::unique_ptr<ICaptureDriver> inner;
        CPickyCamera& camera;
    };
    std::vector<std::string> DriverNames() override { return pattern->DriverNames(); }
    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        return std::make_unique<SDriver>(pattern->Connect(index), *this);
    }
    std::shared_ptr<CTestPatternBackend> pattern = std::make_shared<CTestPatternBackend>();
    bool rgbOnly = false, refuseAll = false, failGrab = false;
    std::vector<uint32_t> asked;
};

class VideoPreview : public ::testing::Test {
protected:
    void SetUp() override { SetCaptureBackends({m_camera}); }
    void TearDown() override {
        m_preview.Stop();
        SetCaptureBackends({});
    }
    void Grab() {
        SendMessage(m_preview.Capture().GetSafeHwnd(), WM_CAP_GRAB_FRAME_NOSTOP, 0, 0);
        DispatchPendingMessages();
    }

    std::shared_ptr<CPickyCamera> m_camera = std::make_shared<CPickyCamera>();
    SView m_view;
    CVideoPreview m_preview{m_view, false};
};

}  // namespace

TEST_F(VideoPreview, PresetsAreTriedAsI420ThenIyuvThenRgbAndNoneLeavesNothingOpen) {
    ASSERT_TRUE(m_preview.Start(kTestPatternName, 12));
    EXPECT_EQ(m_preview.Preset(), 3);
    EXPECT_EQ(m_preview.GetFrameRate(), 12);
    m_preview.Stop();

    m_camera->rgbOnly = true;
    m_camera->asked.clear();
    ASSERT_TRUE(m_preview.Start("", 15));  // an empty name opens the first camera
    EXPECT_EQ(m_preview.Preset(), 5);
    EXPECT_EQ(m_camera->asked, (std::vector<uint32_t>{kFourCCI420, kFourCCIYUV, 0}));
    m_preview.Stop();

    m_camera->refuseAll = true;
    EXPECT_FALSE(m_preview.Start(kTestPatternName, 15));
    EXPECT_FALSE(m_preview.IsRunning());
    EXPECT_FALSE(m_preview.Capture().IsOpen());
}

TEST_F(VideoPreview, EveryCameraFormatReachesTheViewAt32BitsAndStoppingClearsIt) {
    for (bool rgb : {false, true}) {
        m_camera->rgbOnly = rgb;
        ASSERT_TRUE(m_preview.Start(kTestPatternName, 15));
        Grab();
        Grab();
        EXPECT_EQ(m_view.pictures, 2);
        EXPECT_EQ(m_view.format.m_Header.header.biBitCount, 32);
        EXPECT_EQ(m_view.format.m_Header.header.biCompression, 0u);
        EXPECT_EQ(m_view.format.Width(), 320);
        EXPECT_EQ(m_view.format.Height(), 240);
        EXPECT_EQ(m_view.size, 320 * 240 * 4);

        // A grab answered after the stop reaches nothing: its notification finds the preview stopped.
        PostMessage(m_preview.GetSafeHwnd(), WM_DEVICE_VIDEO_FRAME, 0, 0);
        m_preview.Stop();
        DispatchPendingMessages();
        EXPECT_EQ(m_view.size, 0);
        EXPECT_EQ(m_preview.Capture().FullFrameCount(), 0);
        m_view.pictures = 0;
    }
}

TEST_F(VideoPreview, ALostCameraStopsThePreviewAndTellsTheOwner) {
    int lost = 0;
    m_preview.SetLostHandler([&] {
        EXPECT_FALSE(m_preview.IsRunning());
        ++lost;
    });
    ASSERT_TRUE(m_preview.Start(kTestPatternName, 15));
    m_camera->failGrab = true;
    // A hiccup between pictures is forgiven.
    for (int i = 1; i < CVideoService::kLostCameraErrors; ++i)
        Grab();
    m_camera->failGrab = false;
    Grab();
    m_camera->failGrab = true;
    for (int i = 1; i < CVideoService::kLostCameraErrors; ++i)
        Grab();
    EXPECT_TRUE(m_preview.IsRunning());
    EXPECT_EQ(lost, 0);
    Grab();
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(m_preview.Capture().IsOpen());
    EXPECT_EQ(m_view.size, 0);
}
