// The settings page's camera preview without its window: the presets tried in order and an RGB camera's
// picture at 32 bits, against the test-pattern camera.
#include <gtest/gtest.h>

#include "app/VideoPreview.h"
#include "video/TestPatternCamera.h"
#include "video/VideoPicture.h"

namespace {

struct SView : IVideoPicture {
    void SetPicture(const CDataBuffer& rgb32, const CImageFormat& f) override {
        size = rgb32.Size();
        format.CopyFrom(f);
    }
    void ClearPicture() override { size = 0; }
    long size = 0;
    CImageFormat format;
};

// The test pattern, refusing the formats a test names; it keeps the formats asked for.
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
        bool Grab(ICaptureFrameSink& sink) override { return inner->Grab(sink); }
        std::unique_ptr<ICaptureDriver> inner;
        CPickyCamera& camera;
    };
    std::vector<std::string> DriverNames() override { return pattern->DriverNames(); }
    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        return std::make_unique<SDriver>(pattern->Connect(index), *this);
    }
    std::shared_ptr<CTestPatternBackend> pattern = std::make_shared<CTestPatternBackend>();
    bool rgbOnly = false, refuseAll = false;
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
    // The 24-bit camera's frame reaches the view widened to 32 bits.
    Grab();
    EXPECT_EQ(m_view.format.m_Header.header.biBitCount, 32);
    EXPECT_EQ(m_view.size, 320 * 240 * 4);
    m_preview.Stop();
    EXPECT_EQ(m_view.size, 0);

    m_camera->refuseAll = true;
    EXPECT_FALSE(m_preview.Start(kTestPatternName, 15));
    EXPECT_FALSE(m_preview.IsRunning());
    EXPECT_FALSE(m_preview.Capture().IsOpen());
}
