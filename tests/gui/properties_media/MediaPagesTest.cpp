// The Audio and Video pages of the properties sheet, offscreen, over virtual sound devices, a virtual
// mixer and test-pattern cameras: what they show on opening, what Store hands back, and the live preview.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QSlider>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/ClientApp.h"
#include "app/PropertiesValues.h"
#include "app/VideoPreview.h"
#include "audio/MixerApi.h"
#include "audio/VirtualMixer.h"
#include "audio/VirtualWave.h"
#include "gui/support/QtEnvironment.h"
#include "gui/support/Screenshot.h"
#include "platform/qt/QtMessagePump.h"
#include "ui/AudioPage.h"
#include "ui/NoticeDialog.h"
#include "ui/RoundedDialog.h"
#include "ui/VideoPage.h"
#include "ui/VideoView.h"
#include "video/TestPatternCamera.h"
#include "video/VideoCaptureWindow.h"

namespace {

// A test-pattern camera that can refuse every format or fail its grabs (a camera pulled out).
class CPickyCamera : public ICaptureBackend {
public:
    explicit CPickyCamera(const std::string& name) : m_pattern(std::make_shared<CTestPatternBackend>(name)) {}
    struct SDriver : ICaptureDriver {
        SDriver(std::unique_ptr<ICaptureDriver> d, CPickyCamera& c) : inner(std::move(d)), camera(c) {}
        bool GetFormat(SCaptureFormat& f) override { return inner->GetFormat(f); }
        bool SetFormat(const SCaptureFormat& f) override { return !camera.refuseAll && inner->SetFormat(f); }
        bool Grab(ICaptureFrameSink& sink) override { return !camera.failGrab && inner->Grab(sink); }
        std::unique_ptr<ICaptureDriver> inner;
        CPickyCamera& camera;
    };
    std::vector<std::string> DriverNames() override { return m_pattern->DriverNames(); }
    std::unique_ptr<ICaptureDriver> Connect(int index) override {
        return std::make_unique<SDriver>(m_pattern->Connect(index), *this);
    }
    std::atomic<bool> refuseAll{false}, failGrab{false};

private:
    std::shared_ptr<CTestPatternBackend> m_pattern;
};

QImage Grab(QWidget* w) {
    QApplication::processEvents();
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The frame number in the test pattern's black and white cells along the bottom; -1 when unclear.
long PatternNumber(const QImage& image) {
    const int cell = image.width() / kTestPatternCounterBits;
    long n = 0;
    for (int bit = 0; bit < kTestPatternCounterBits; ++bit) {
        const int grey = qGray(image.pixel(bit * cell + cell / 2, image.height() - 4));
        if (grey > 40 && grey < 215)
            return -1;
        n = n << 1 | (grey >= 215 ? 1 : 0);
    }
    return n;
}

using guitest::Screenshot;

}  // namespace

class MediaPagesTest : public QObject {
    Q_OBJECT

public:
    MediaPagesTest() { guitest::UseQtEnvironment(); }

private:
    std::unique_ptr<CQtMessagePump> m_pump;
    std::unique_ptr<CClientApp> m_app;
    std::shared_ptr<CPickyCamera> m_camera;
    std::shared_ptr<CVirtualMixer> m_mixer;
    uint32_t m_nMicVolume = 0;

    CSettings& Settings() { return m_app->Settings(); }

private slots:
    void initTestCase() {
        m_pump = std::make_unique<CQtMessagePump>();
        SetStringLanguage(LANG_ENGLISH_US);
        CRoundedDialog::SetDialogColors(CClientApp::kDialogBackground, CClientApp::kDialogText);
        SetMixerDiagnosticHook([](const std::string&, const std::string&) {});

        auto wave = std::make_shared<CVirtualWaveBackend>();
        wave->AddSilenceCapture("Desk microphone", EWavePacing::Fast);
        wave->AddSilenceCapture("Webcam microphone", EWavePacing::Fast);
        wave->AddWavFilePlayback("Speakers", "", EWavePacing::Fast);
        SetWaveBackends({wave});

        // A microphone line only: the speaker fader cannot bind.
        m_mixer = std::make_shared<CVirtualMixer>("card");
        const uint32_t rec = m_mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 1, "Recording");
        const uint32_t mic = m_mixer->AddSource(rec, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Mic");
        m_nMicVolume = m_mixer->AddControl(rec, int(mic), MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 100, 100);
        auto mixers = std::make_shared<CVirtualMixerBackend>();
        mixers->Add(m_mixer);
        SetMixerBackends({mixers});
    }

    void cleanupTestCase() {
        SetMixerBackends({});
        SetWaveBackends({});
        SetMixerDiagnosticHook(nullptr);
    }

    void init() {
        m_app = std::make_unique<CClientApp>();
        m_camera = std::make_shared<CPickyCamera>(kTestPatternName);
        SetCaptureBackends({std::make_shared<CTestPatternBackend>("Attic camera"), m_camera});
    }

    void cleanup() {
        SetCaptureBackends({});
        m_app.reset();
    }

    void audioPageShowsTheStoredChoicesAndKeepsAnUnpluggedDevice() {
        Settings().SetAudioIn("Webcam microphone");
        Settings().SetAudioOut("USB headset");
        Settings().SetSilence(4200);
        Settings().SetAudioInVolume(90);
        Settings().SetAudioOutVolume(35);
        m_mixer->SetValues(m_nMicVolume, {60});
        CAudioPage page(*m_app);
        page.resize(420, 260);
        page.show();

        QComboBox* in = page.InputList();
        QCOMPARE(in->count(), 3);
        QCOMPARE(in->itemText(0), QString());
        QCOMPARE(in->itemText(1), QString("Desk microphone"));
        QCOMPARE(in->currentIndex(), 2);
        QComboBox* out = page.OutputList();
        QCOMPARE(out->count(), 2);
        QCOMPARE(out->currentIndex(), -1);
        QCOMPARE(out->placeholderText(), QString("USB headset (not connected)"));
        QCOMPARE(page.SilenceSlider()->value(), 4200);
        // The bound microphone fader shows the mixer's volume; the unbound speaker one the stored position.
        QVERIFY(page.InputVolume()->isEnabled());
        QCOMPARE(page.InputVolume()->value(), 60);
        QVERIFY(!page.OutputVolume()->isEnabled());
        QCOMPARE(page.OutputVolume()->value(), 35);
        Screenshot(&page, "properties-audio-page.png");

        SPropertiesValues values;
        page.Store(values);
        QCOMPARE(values.m_strAudioIn, std::string("Webcam microphone"));
        QCOMPARE(values.m_strAudioOut, std::string("USB headset"));
        QCOMPARE(values.m_nSilence, 4200);
        QCOMPARE(values.m_nAudioInVolume, 60);
        QCOMPARE(values.m_nAudioOutVolume, 35);

        // What the user moves and picks lands in the values; the fader sets the mixer on the way.
        in->setCurrentIndex(0);
        out->setCurrentIndex(1);
        page.SilenceSlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        page.InputVolume()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        page.Store(values);
        QCOMPARE(values.m_strAudioIn, std::string());
        QCOMPARE(values.m_strAudioOut, std::string("Speakers"));
        QCOMPARE(values.m_nSilence, 5200);
        QCOMPARE(values.m_nAudioInVolume, 70);
        QCOMPARE(m_mixer->Values(m_nMicVolume), std::vector<uint32_t>{70});
    }

    void videoPreviewShowsTheCameraUntilLostOrTheDeviceChanges() {
        Settings().SetVideoIn(kTestPatternName);
        Settings().SetFrameRate(20);
        CVideoPage page(*m_app);
        page.resize(400, 360);
        page.show();
        QCOMPARE(page.DeviceList()->count(), 2);
        QCOMPARE(page.DeviceList()->itemText(0), QString("Attic camera"));  // in name order
        QCOMPARE(page.DeviceList()->currentIndex(), 1);
        QCOMPARE(page.FramesSlider()->value(), 20);

        page.PreviewBox()->click();
        QVERIFY(page.Preview().IsRunning());
        QCOMPARE(page.Preview().GetFrameRate(), 20);
        CVideoView* view = page.PreviewView();
        QTRY_VERIFY(view->HasPicture());
        long first = -1;
        QTRY_VERIFY((first = PatternNumber(Grab(view))) >= 0);
        QTRY_VERIFY(PatternNumber(Grab(view)) > first);
        Screenshot(&page, "properties-video-page-preview.png");

        // A camera pulled out stops the preview and unchecks the box.
        m_camera->failGrab = true;
        QTRY_VERIFY(!page.PreviewBox()->isChecked());
        QVERIFY(!view->HasPicture());
        m_camera->failGrab = false;
        page.PreviewBox()->click();
        QVERIFY(page.Preview().IsRunning());

        // Releasing the slider sets the pacing rate.
        page.FramesSlider()->setSliderDown(true);
        page.FramesSlider()->setSliderPosition(5);
        QCOMPARE(page.Preview().GetFrameRate(), 20);
        page.FramesSlider()->setSliderDown(false);
        QCOMPARE(page.Preview().GetFrameRate(), 5);

        page.DeviceList()->setCurrentIndex(0);
        QVERIFY(!page.PreviewBox()->isChecked());
        QVERIFY(!page.Preview().IsRunning());
        QVERIFY(!view->HasPicture());
        SPropertiesValues values;
        page.Store(values);
        QCOMPARE(values.m_strVideoIn, std::string("Attic camera"));
        QCOMPARE(values.m_nFrameRate, 5);
        // Left running: the page stops it as it goes.
        page.PreviewBox()->click();
        QVERIFY(page.Preview().IsRunning());
    }

    void withoutACameraPreviewIsDisabledButTheStoredChoicesStay() {
        SetCaptureBackends({});
        Settings().SetVideoIn("Old camera");
        Settings().SetFrameRate(7);
        CVideoPage page(*m_app);
        page.resize(400, 360);
        page.show();
        QVERIFY(!page.PreviewBox()->isEnabled());
        QCOMPARE(page.FramesSlider()->value(), 7);
        Screenshot(&page, "properties-video-page-no-camera.png");
        SPropertiesValues values;
        page.Store(values);
        QCOMPARE(values.m_strVideoIn, std::string("Old camera"));
        QCOMPARE(values.m_nFrameRate, 7);
    }

    void aCameraThatTakesNoPresetGivesNotice147() {
        m_camera->refuseAll = true;
        Settings().SetVideoIn(kTestPatternName);
        CVideoPage page(*m_app);
        page.show();
        QString notice;
        QTimer::singleShot(20, [&] {
            if (auto* n = qobject_cast<CNoticeDialog*>(QApplication::activeModalWidget())) {
                notice = n->Text();
                n->accept();
            }
        });
        page.PreviewBox()->click();
        QCOMPARE(notice, QString("Video can't be activated"));
        QVERIFY(!page.PreviewBox()->isChecked());
        QVERIFY(!page.Preview().IsRunning());
    }
};

QTEST_MAIN(MediaPagesTest)
#include "MediaPagesTest.moc"
