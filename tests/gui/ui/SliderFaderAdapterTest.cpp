// A real QSlider behind a mixer fader over a virtual mixer: the user's drags, clicks and keys set the
// volume as a trackbar's would, a change made elsewhere moves the slider through Qt's loop, and the
// fader closes when the slider goes.
#include <QApplication>
#include <QSlider>
#include <QTest>
#include <memory>

#include "audio/VirtualMixer.h"
#include "platform/qt/QtMessagePump.h"
#include "ui/SliderFaderAdapter.h"

namespace {

using Values = std::vector<uint32_t>;

}  // namespace

class SliderFaderAdapterTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CQtMessagePump> m_pump;
    std::shared_ptr<CVirtualMixerBackend> m_pBackend;
    std::shared_ptr<CVirtualMixer> m_pMixer;
    uint32_t m_nVolume = 0;

    int Bind(CMixerFader& fader) {
        return fader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                          MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain);
    }

private slots:
    void initTestCase() {
        m_pump = std::make_unique<CQtMessagePump>();
        SetMixerDiagnosticHook([](const std::string&, const std::string&) {});
    }

    void init() {
        m_pMixer = std::make_shared<CVirtualMixer>("card");
        const uint32_t d = m_pMixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Speakers");
        m_nVolume = m_pMixer->AddControl(d, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, 32);
        m_pMixer->SetValues(m_nVolume, {40000, 20000});
        m_pBackend = std::make_shared<CVirtualMixerBackend>();
        m_pBackend->Add(m_pMixer);
        SetMixerBackends({m_pBackend});
    }

    void cleanup() { SetMixerBackends({}); }

    void cleanupTestCase() { SetMixerDiagnosticHook(nullptr); }

    void keysClicksAndDraggingSetTheVolumeAsATrackbarWould() {
        QSlider slider(Qt::Horizontal);
        slider.resize(200, 30);
        slider.setPageStep(4);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        CMixerFader fader;
        CSliderFaderAdapter adapter(&slider, &fader);
        QCOMPARE(Bind(fader), 1);
        QVERIFY(slider.isEnabled());
        QCOMPARE(slider.maximum(), 32);
        QCOMPARE(slider.value(), 19);

        // An arrow key moves the thumb; the volume follows when the key comes up.
        QTest::keyPress(&slider, Qt::Key_Right);
        QCOMPARE(slider.value(), 20);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{40000, 20000}));
        QTest::keyRelease(&slider, Qt::Key_Right);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{40940, 20470}));
        // Other keys move nothing.
        QTest::keyClick(&slider, Qt::Key_A);
        QCOMPARE(m_pMixer->WriteCount(), 1);

        // A page at once.
        QTest::keyPress(&slider, Qt::Key_PageUp);
        QCOMPARE(slider.value(), 24);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{49128, 24564}));
        QTest::keyRelease(&slider, Qt::Key_PageUp);

        // Dragging sets the volume on the way and keeps the thumb under the pointer.
        slider.setSliderDown(true);
        slider.setSliderPosition(8);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{16376, 8188}));
        m_pMixer->SetValues(m_nVolume, {65535, 65535});
        QTest::qWait(20);
        QCOMPARE(slider.sliderPosition(), 8);
        // On release the user's position wins, with the balance the control now has.
        slider.setSliderDown(false);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{16376, 16376}));
    }

    void aVerticalSliderHasTheLoudestAtTheTop() {
        QSlider slider(Qt::Vertical);
        slider.resize(30, 200);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        CMixerFader fader;
        CSliderFaderAdapter adapter(&slider, &fader);
        QCOMPARE(Bind(fader), 1);
        QCOMPARE(slider.value(), 32 - 19);
        // Shown with its minimum at the top: a loud volume sits high.
        QVERIFY(slider.invertedAppearance());

        // Up points up: louder.
        QTest::keyClick(&slider, Qt::Key_Up);
        QCOMPARE(slider.value(), 32 - 20);
        QCOMPARE(m_pMixer->Values(m_nVolume), (Values{40940, 20470}));
    }

    void aChangeMadeElsewhereMovesTheSlider() {
        QSlider slider(Qt::Horizontal);
        CMixerFader fader;
        CSliderFaderAdapter adapter(&slider, &fader);
        QCOMPARE(Bind(fader), 1);
        m_pMixer->SetValues(m_nVolume, {10000, 10000});
        QTRY_COMPARE(slider.value(), 4);
        // Setting the slider from the mixer is not a move: nothing is written back.
        QCOMPARE(m_pMixer->WriteCount(), 0);
    }

    void theFaderClosesWhenTheSliderGoes() {
        CMixerFader fader;
        {
            auto* slider = new QSlider(Qt::Horizontal);
            CSliderFaderAdapter adapter(slider, &fader);
            QCOMPARE(Bind(fader), 1);
            QCOMPARE(m_pMixer->OpenCount(), 1);
            delete slider;
            QVERIFY(!fader.IsBound());
            QCOMPARE(m_pMixer->OpenCount(), 0);
            QVERIFY(fader.GetSlider() == nullptr);
        }
        // An adapter that goes first leaves the fader without a slider, never with a dangling one.
        QSlider slider(Qt::Horizontal);
        {
            CSliderFaderAdapter adapter(&slider, &fader);
            QCOMPARE(Bind(fader), 1);
        }
        QVERIFY(fader.GetSlider() == nullptr);
        m_pMixer->SetValues(m_nVolume, {0, 0});
        QTest::qWait(20);
        QCOMPARE(Bind(fader), 0);
    }
};

QTEST_MAIN(SliderFaderAdapterTest)
#include "SliderFaderAdapterTest.moc"
