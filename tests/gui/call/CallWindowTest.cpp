// The call window and the keypad offscreen, driven through a real CCallControl whose session and media
// are small fakes: what the user sees in each state, and what the user's actions send.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <memory>

#include "app/CallControl.h"
#include "app/ClientApp.h"
#include "audio/MixerApi.h"
#include "audio/MixerBase.h"
#include "audio/VirtualMixer.h"
#include "gui/support/QtEnvironment.h"
#include "gui/support/Screenshot.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "settings/Settings.h"
#include "support/AppFakes.h"
#include "support/TempEnvironment.h"
#include "ui/CallDialog.h"
#include "ui/KeypadWindow.h"
#include "ui/NoticeDialog.h"
#include "ui/VideoView.h"
#include "ui/VideoWindow.h"
#include "video/ImageFormat.h"
#include "video/VideoPicture.h"

namespace {

const UINT WM_AUDIO_SILENCE = RegisterWindowMessage("WM_AUDIO_SILENCE");

class CHost : public vp::test::CQuietCallHost {
public:
    bool SendControl(const Bytes& record) override {
        m_sent.push_back(record);
        return true;
    }

    std::vector<uint8_t> Codes() const {
        std::vector<uint8_t> codes;
        for (const auto& r : m_sent)
            codes.push_back(r.empty() ? 0 : r[0]);
        return codes;
    }
    std::vector<Bytes> m_sent;
};

class CMedia : public vp::test::CQuietCallMedia {
public:
    void SetSilenceThreshold(int value) override { m_nThreshold = value; }
    bool SendText(const std::string& text) override {
        m_sentTexts.push_back(text);
        return true;
    }
    // A camera that shows a picture in the preview as soon as it starts.
    bool StartVideo(IVideoPicture* pPreview, const std::string&, int) override {
        if (!m_bCamera)
            return false;
        m_bVideo = true;
        if (pPreview != nullptr) {
            CImageFormat format;
            format.m_Header.header.biSize = kBitmapInfoHeaderSize;
            format.m_Header.header.biWidth = 320;
            format.m_Header.header.biHeight = 240;
            format.m_Header.header.biPlanes = 1;
            format.SetUncompressed(32);
            CDataBuffer rgb;
            rgb.Resize(320 * 240 * 4);
            auto* pixels = reinterpret_cast<uint32_t*>(rgb.Data());
            for (int y = 0; y < 240; ++y)
                for (int x = 0; x < 320; ++x)
                    pixels[y * 320 + x] = uint32_t(x * 255 / 320) << 16 | uint32_t(y * 255 / 240) << 8 | 0x60;
            pPreview->SetPicture(rgb, format);
        }
        return true;
    }
    void StopVideo() override { m_bVideo = false; }
    void SetFrameRate(int n) override { m_nFrameRate = n; }

    int m_nThreshold = -1;
    std::vector<std::string> m_sentTexts;
    bool m_bCamera = true;
    bool m_bVideo = false;
    int m_nFrameRate = -1;
};

// Runs `action` once the event loop is running (inside a nested modal loop, for instance).
void Later(std::function<void()> action, int ms = 20) {
    QTimer::singleShot(ms, action);
}

using guitest::Screenshot;

}  // namespace

class CallWindowTest : public QObject {
    Q_OBJECT

public:
    CallWindowTest() { guitest::UseQtEnvironment(); }

private:
    std::unique_ptr<CQtMessagePump> m_pump;
    std::unique_ptr<CTempEnvironment> m_env;
    std::unique_ptr<CSettings> m_settings;
    std::unique_ptr<CHost> m_host;
    std::unique_ptr<CMedia> m_media;
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<CCallDialog> m_dialog;
    std::unique_ptr<CCallControl> m_control;

    void Deliver(const Bytes& r) { m_control->OnControlMessage(r.data(), r.size()); }
    void Tick(uintptr_t id) { SendMessage(m_control->GetTimerWindow(), WM_TIMER, id, 0); }
    void Ringing() {
        m_control->PlaceCall("5550002");
        Deliver(BuildCallIdRecord(MSG_CALL_ID, 7));
    }
    void Connected() {
        Ringing();
        Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
    }
    static QString Text(UINT id) { return QString::fromUtf8(LoadString(id)); }

private slots:
    void initTestCase() {
        m_pump = std::make_unique<CQtMessagePump>();
        SetStringLanguage(LANG_ENGLISH_US);
        CRoundedDialog::SetDialogColors(CClientApp::kDialogBackground, CClientApp::kDialogText);
        SetMixerDiagnosticHook([](const std::string&, const std::string&) {});
    }

    void cleanupTestCase() { SetMixerDiagnosticHook(nullptr); }

    void init() {
        SetMixerBackends({});
        m_env = std::make_unique<CTempEnvironment>();
        m_settings = std::make_unique<CSettings>();
        m_settings->Load();
        m_settings->SetSilence(2500);
        m_host = std::make_unique<CHost>();
        m_media = std::make_unique<CMedia>();
        m_main = std::make_unique<QWidget>();
        m_main->setGeometry(100, 100, 300, 420);
        m_dialog = std::make_unique<CCallDialog>(m_main.get());
        m_control = std::make_unique<CCallControl>(*m_host, *m_media, *m_dialog, *m_settings);
        m_dialog->SetCallControl(m_control.get());
    }

    void cleanup() {
        m_dialog->SetCallControl(nullptr);
        m_control.reset();
        m_dialog.reset();
        m_main.reset();
        m_settings.reset();
        m_env.reset();
    }

    void createdHiddenWithVideoDisabled() {
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(!m_dialog->VideoBox()->isEnabled());
        QVERIFY(!m_dialog->FrameRateSlider()->isEnabled());
        QVERIFY(!m_dialog->VideoWindow()->isVisible());
        QVERIFY(!m_dialog->LocalPreview()->isVisibleTo(m_dialog.get()));
        QCOMPARE(m_dialog->SilenceSlider()->minimum(), 0);
        QCOMPARE(m_dialog->SilenceSlider()->maximum(), 32000);
    }

    void callingModeShowsTheGrowingFrameThenTheMediaControls() {
        Ringing();
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(m_dialog->TitleLabel()->text(), QString("Calling to NTV : Bob"));
        QVERIFY(m_dialog->CallingLabel()->isVisible());
        QVERIFY(!m_dialog->MediaPanel()->isVisible());
        QCOMPARE(m_dialog->CallingLabel()->text(), QString("Calling "));
        for (int i = 0; i < 3; ++i)
            Tick(CCallControl::kTimerCalling);
        QCOMPARE(m_dialog->CallingLabel()->text(), QString("(((Calling )))"));
        QCOMPARE(m_dialog->SilenceSlider()->value(), 2500);
        Screenshot(m_dialog.get(), "call-calling.png");

        for (int i = 0; i < 5; ++i)
            Tick(CCallControl::kTimerCalling);
        QCOMPARE(m_dialog->CallingLabel()->text(), QString("Calling "));

        Deliver(BuildShortRecord(MSG_CALL_CONNECTED));
        QVERIFY(!m_dialog->CallingLabel()->isVisible());
        QVERIFY(m_dialog->MediaPanel()->isVisible());
    }

    void callingTextFrames() {
        QCOMPARE(CCallDialog::CallingText("Llamando ", 0), QString("Llamando "));
        QCOMPARE(CCallDialog::CallingText("Llamando ", 7), QString("(((((((Llamando )))))))"));
        QCOMPARE(CCallDialog::CallingText("x", 9), QString("(((((((x)))))))"));
    }

    void chatSendsOnEnterAndStylesBothSides() {
        Connected();
        m_dialog->ChatInput()->setText("hola");
        QTest::keyClick(m_dialog->ChatInput(), Qt::Key_Return);
        QCOMPARE(m_media->m_sentTexts, std::vector<std::string>{"hola"});
        QVERIFY(m_dialog->ChatInput()->text().isEmpty());
        QVERIFY(m_dialog->isVisible());  // Enter did not close the window

        QTest::keyClick(m_dialog->ChatInput(), Qt::Key_Return);  // empty: nothing
        m_dialog->ChatInput()->setText("¿me oyes?");
        QTest::mouseClick(m_dialog->SendButton(), Qt::LeftButton);
        QCOMPARE(m_media->m_sentTexts.size(), size_t(2));

        m_media->m_incoming = {"sí, perfectamente", "y te veo... bueno, todavía no"};
        m_control->OnTextReceived();
        QListWidget* list = m_dialog->ChatList();
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(0)->data(Qt::UserRole).toInt(), int(CCallDialog::STYLE_OWN));
        QCOMPARE(list->item(2)->data(Qt::UserRole).toInt(), int(CCallDialog::STYLE_RECEIVED));
        QVERIFY(list->item(0)->foreground() != list->item(2)->foreground());
        QCOMPARE(list->currentRow(), 3);
        QCOMPARE(list->item(1)->text(), QString::fromUtf8("¿me oyes?"));
        Screenshot(m_dialog.get(), "call-chat.png");

        // The next call starts with an empty chat.
        m_control->HangUp();
        Connected();
        QCOMPARE(m_dialog->ChatList()->count(), 0);
    }

    void escapeAndTheCloseButtonsHangUp() {
        Connected();
        m_host->m_sent.clear();
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(!m_control->IsCallShown());
        QCOMPARE(m_host->Codes(), (std::vector<uint8_t>{MSG_HANGUP, MSG_CALL_END}));

        Connected();
        m_host->m_sent.clear();
        QTest::mouseClick(m_dialog->CloseButton(), Qt::LeftButton);
        QCOMPARE(m_host->Codes(), (std::vector<uint8_t>{MSG_HANGUP, MSG_CALL_END}));

        Connected();
        m_host->m_sent.clear();
        QTest::mouseClick(m_dialog->HangupButton(), Qt::LeftButton);
        QCOMPARE(m_host->Codes(), (std::vector<uint8_t>{MSG_HANGUP, MSG_CALL_END}));
        QVERIFY(!m_dialog->isVisible());
    }

    void speechIndicatorFollowsTheSilenceMessages() {
        Connected();
        QVERIFY(!m_dialog->IsSpeaking());
        SendMessage(m_dialog->GetSafeHwnd(), WM_AUDIO_SILENCE, 0, 4000);
        QVERIFY(m_dialog->IsSpeaking());
        SendMessage(m_dialog->GetSafeHwnd(), WM_AUDIO_SILENCE, 7, 0);
        QVERIFY(m_dialog->IsSpeaking());
        // Posted, as the audio service does.
        PostMessage(m_dialog->GetSafeHwnd(), WM_AUDIO_SILENCE, 1, 0);
        QTRY_VERIFY(!m_dialog->IsSpeaking());
    }

    void silenceSliderIsStoredAtOnce() {
        Connected();
        m_dialog->SilenceSlider()->setValue(6000);
        QCOMPARE(m_media->m_nThreshold, 6000);
        CSettings reloaded;
        reloaded.Load();
        QCOMPARE(reloaded.GetSilence(), 6000);
        // Putting the stored value into the slider stores nothing.
        m_media->m_nThreshold = -1;
        m_dialog->SetSilenceSlider(100);
        QCOMPARE(m_media->m_nThreshold, -1);
    }

    // ---- video
    // ----------------------------------------------------------------------------------------------

    void videoBoxStartsAndStopsVideoAndThePreviewWidensTheWindow() {
        Connected();
        QCheckBox* box = m_dialog->VideoBox();
        QVERIFY(box->isEnabled());
        const QSize before = m_dialog->size();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(m_media->m_bVideo);
        QVERIFY(box->isChecked());
        CVideoView* preview = m_dialog->LocalPreview();
        QVERIFY(preview->isVisible());
        QVERIFY(preview->HasPicture());
        QCOMPARE(m_dialog->width(), before.width() + CCallDialog::kPreviewGap + CCallDialog::kPreviewWidth);
        QCOMPARE(m_dialog->height(), before.height());
        // Beside the chat, not over it.
        QVERIFY(preview->geometry().left() > m_dialog->ChatList()->geometry().right());
        Screenshot(m_dialog.get(), "call-video-preview.png");

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!m_media->m_bVideo);
        QVERIFY(!preview->isVisible());
        QVERIFY(!preview->HasPicture());
        QCOMPARE(m_dialog->size(), before);

        // Hanging up stops it too, and the next call starts with the box unchecked at the first size.
        QTest::mouseClick(box, Qt::LeftButton);
        m_control->HangUp();
        QVERIFY(!m_media->m_bVideo);
        QVERIFY(!box->isChecked());
        QVERIFY(!box->isEnabled());
        Connected();
        QVERIFY(!box->isChecked());
        QCOMPARE(m_dialog->size(), before);
    }

    void videoBoxIsUncheckedWithNotice147WhenNoCameraStarts() {
        m_media->m_bCamera = false;
        Connected();
        const QSize before = m_dialog->size();
        QString notice;
        Later([&] {
            if (auto* n = qobject_cast<CNoticeDialog*>(QApplication::activeModalWidget())) {
                notice = n->Text();
                n->accept();
            }
        });
        QTest::mouseClick(m_dialog->VideoBox(), Qt::LeftButton);
        QCOMPARE(notice, QString("Video can't be activated"));
        QVERIFY(!m_dialog->VideoBox()->isChecked());
        QVERIFY(!m_dialog->LocalPreview()->isVisible());
        QCOMPARE(m_dialog->size(), before);
        QVERIFY(m_dialog->isVisible());  // the call goes on
    }

    void frameRateSliderStoresTheRateOnRelease() {
        m_settings->SetFrameRate(12);
        Connected();
        QSlider* slider = m_dialog->FrameRateSlider();
        QVERIFY(slider->isEnabled());
        QCOMPARE(slider->minimum(), 1);
        QCOMPARE(slider->maximum(), 30);
        QCOMPARE(slider->value(), 12);
        QCOMPARE(m_dialog->FrameRateValue()->text(), QString("12"));
        QCOMPARE(m_media->m_nFrameRate, -1);  // showing the stored rate changes nothing

        slider->setSliderDown(true);
        slider->setValue(25);
        QCOMPARE(m_dialog->FrameRateValue()->text(), QString("25"));
        QCOMPARE(m_media->m_nFrameRate, -1);
        QCOMPARE(m_settings->GetFrameRate(), 12);
        slider->setSliderDown(false);
        QCOMPARE(m_media->m_nFrameRate, 25);
        QCOMPARE(m_settings->GetFrameRate(), 25);
    }

    void remoteVideoWindowFollowsThePeersFormatAndStop() {
        SBitmapInfoHeader header = ZeroBitmapHeader();
        header.biSize = kBitmapInfoHeaderSize;
        header.biWidth = 320;
        header.biHeight = 240;
        header.biPlanes = 1;
        header.biBitCount = 12;
        header.biCompression = kFourCCI420;
        header.biSizeImage = 320 * 240 * 3 / 2;
        const Bytes format = BuildVideoFormat(header);
        const Bytes stop = BuildShortRecord(MSG_VIDEO_STOP);
        CVideoWindow* window = m_dialog->VideoWindow();

        Connected();
        QVERIFY(!window->isVisible());
        m_control->OnVideoMessage(format.data(), format.size());
        QVERIFY(window->isVisible());
        QCOMPARE(window->Zoom(), 2);
        m_control->OnVideoMessage(stop.data(), stop.size());
        QVERIFY(!window->isVisible());

        m_control->OnVideoMessage(format.data(), format.size());
        QVERIFY(window->isVisible());
        m_control->HangUp();
        QVERIFY(!window->isVisible());
        QVERIFY(!m_control->Receiver().IsDecoding());
    }

    void mixerSlidersStayDisabledWithoutAMixer() {
        Connected();
        QVERIFY(!m_dialog->SpeakerSlider()->isEnabled());
        QVERIFY(!m_dialog->MicrophoneSlider()->isEnabled());
    }

    void speakerAndMicrophoneSlidersAreMixerFaders() {
        auto mixer = std::make_shared<CVirtualMixer>("card");
        const uint32_t out = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Speakers");
        const uint32_t outVolume = mixer->AddControl(out, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 65535, 32);
        mixer->SetValues(outVolume, {40000, 20000});
        const uint32_t rec = mixer->AddDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 1, "Recording");
        const uint32_t mic = mixer->AddSource(rec, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Mic");
        const uint32_t micVolume =
            mixer->AddControl(rec, int(mic), MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 100, 100);
        mixer->SetValues(micVolume, {30});
        auto backend = std::make_shared<CVirtualMixerBackend>();
        backend->Add(mixer);
        SetMixerBackends({backend});

        CCallDialog dialog(m_main.get());
        QVERIFY(dialog.SpeakerSlider()->isEnabled());
        QVERIFY(dialog.MicrophoneSlider()->isEnabled());
        QCOMPARE(dialog.SpeakerFader().GetMax(), 32);
        QCOMPARE(dialog.SpeakerFader().GetStep(), 2047u);
        // Trackbar positions: a vertical slider counts from the top, where the loudest is shown.
        QCOMPARE(dialog.SpeakerSlider()->value(), 32 - 40000 / 2047);
        QCOMPARE(dialog.MicrophoneSlider()->value(), 100 - 30);

        // Moving the speaker slider keeps the balance; a change made elsewhere moves the microphone's.
        dialog.SpeakerSlider()->triggerAction(QAbstractSlider::SliderPageStepSub);
        const auto values = mixer->Values(outVolume);
        QCOMPARE(values.size(), size_t(2));
        QVERIFY(values[0] != 40000);
        QCOMPARE(values[1], values[0] / 2);
        mixer->SetValues(micVolume, {75});
        QTRY_COMPARE(dialog.MicrophoneSlider()->value(), 100 - 75);
        SetMixerBackends({});
    }

    void incomingPromptAcceptsWithOk() {
        Later([this] {
            QVERIFY(m_dialog->OpenPrompt() != nullptr);
            QCOMPARE(m_dialog->OpenPrompt()->Text(), QString("Accept calling from Bob?"));
            QTest::mouseClick(m_dialog->OpenPrompt()->OkButton(), Qt::LeftButton);
        });
        Deliver(BuildCallSetup(21, "5550002", "Roberto", "5550001"));
        QCOMPARE(m_host->m_sent.back(), BuildCallIdRecord(MSG_CALL_ACCEPT, 21));
        Deliver(BuildShortRecord(MSG_CALL_ACCEPTED));
        QCOMPARE(m_dialog->TitleLabel()->text(), QString("Calling from NTV : Bob"));
        QVERIFY(m_dialog->MediaPanel()->isVisible());
    }

    void incomingPromptRejectsWithCancel() {
        Later([this] { QTest::mouseClick(m_dialog->OpenPrompt()->CancelButton(), Qt::LeftButton); });
        const Bytes setup = BuildCallSetup(22, CClientApp::kGuestNtv, "", "5550001");
        Deliver(setup);
        Bytes refused;
        BuildCallRefused(setup.data(), setup.size(), kRefusedByUser, refused);
        QCOMPARE(m_host->m_sent.back(), refused);
    }

    void abortClosesTheOpenPrompt() {
        QString seen;
        Later([&] {
            seen = m_dialog->OpenPrompt()->Text();
            // The next control message arrives while the prompt's own loop runs.
            Deliver(BuildShortRecord(MSG_CALL_ABORT));
        });
        Deliver(BuildCallSetup(23, CClientApp::kGuestNtv, "", "5550001"));
        QCOMPARE(seen, QString("Accept call from direct calling?"));
        QVERIFY(m_host->m_sent.empty());
        QVERIFY(m_dialog->OpenPrompt() == nullptr);
    }

    void refusalNoticeIsShownAfterTheWindowHides() {
        Ringing();
        bool windowHidden = false;
        QString notice;
        Later([&] {
            windowHidden = !m_dialog->isVisible();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* n = qobject_cast<CNoticeDialog*>(w); n != nullptr && n->isVisible()) {
                    notice = n->Text();
                    QVERIFY(n->CancelButton() == nullptr);
                    n->accept();
                }
        });
        Bytes setup = BuildCallSetup(7, "5550001", "Ana", "5550002"), refused;
        BuildCallRefused(setup.data(), setup.size(), kRefusedBusy, refused);
        Deliver(refused);
        QVERIFY(windowHidden);
        QCOMPARE(notice, QString("Busy"));
    }

    // ---- keypad ------------------------------------------------------------------------------------------

    void keypadTakesDigitsFromButtonsAndBothKeyboards() {
        CKeypadWindow keypad(m_main.get());
        std::vector<std::string> called;
        keypad.SetCallHandler([&](const std::string& n) { called.push_back(n); });
        m_main->show();
        keypad.show();
        QTest::mouseClick(keypad.DigitButton(5), Qt::LeftButton);
        QTest::keyClick(&keypad, Qt::Key_5);
        QTest::keyClick(&keypad, Qt::Key_7, Qt::KeypadModifier);
        QTest::keyClick(&keypad, Qt::Key_A);
        QCOMPARE(keypad.Number(), std::string("557"));
        QTest::keyClick(&keypad, Qt::Key_Backspace);
        QCOMPARE(keypad.Display()->text(), QString("55"));
        for (int i = 0; i < 14; ++i)
            QTest::mouseClick(keypad.DigitButton(i % 10), Qt::LeftButton);
        QCOMPARE(keypad.Number().size(), size_t(15));
        const std::string full = keypad.Number();
        QTest::mouseClick(keypad.DigitButton(9), Qt::LeftButton);  // a 16th digit
        QCOMPARE(keypad.Number(), full);

        QTest::mouseClick(keypad.CallButton(), Qt::LeftButton);
        QCOMPARE(called, std::vector<std::string>{full});
        QVERIFY(keypad.Number().empty());
        QVERIFY(keypad.Display()->text().isEmpty());
        QTest::mouseClick(keypad.CallButton(), Qt::LeftButton);  // empty: nothing
        QCOMPARE(called.size(), size_t(1));

        QTest::mouseClick(keypad.DigitButton(1), Qt::LeftButton);
        QTest::mouseClick(keypad.ClearButton(), Qt::LeftButton);
        QVERIFY(keypad.Number().empty());
    }

    void keypadCallOnAnEmptyNumberStartsNothing() {
        CKeypadWindow keypad(m_main.get());
        keypad.SetCallHandler([this](const std::string& n) { m_control->PlaceCall(n); });
        keypad.show();
        QTest::mouseClick(keypad.CallButton(), Qt::LeftButton);
        QVERIFY(m_host->m_sent.empty());
        QVERIFY(!m_control->IsAnswerTimerRunning());
        QTest::mouseClick(keypad.DigitButton(4), Qt::LeftButton);
        QTest::mouseClick(keypad.CallButton(), Qt::LeftButton);
        QCOMPARE(m_host->Codes(), std::vector<uint8_t>{MSG_CALL_REQUEST});
        QCOMPARE(m_control->GetCalledNtv(), std::string("4"));
    }

    void keypadDocksBesideTheMainWindowAndFollowsIt() {
        const QRect screen(0, 0, 1024, 768);
        const QSize size(200, 300);
        QCOMPARE(CKeypadWindow::DockPosition(QRect(100, 50, 300, 400), size, screen), QPoint(403, 50));
        // No room on the right: to the left with the same gap.
        QCOMPARE(CKeypadWindow::DockPosition(QRect(700, 60, 300, 400), size, screen), QPoint(497, 60));
        // Exactly up to the edge still fits.
        QCOMPARE(CKeypadWindow::DockPosition(QRect(521, 0, 300, 400), size, screen), QPoint(824, 0));

        m_main->show();
        m_main->move(100, 100);
        CKeypadWindow keypad(m_main.get());
        keypad.show();
        QTRY_COMPARE(keypad.pos(),
                     QPoint(m_main->frameGeometry().right() + 1 + 3, m_main->frameGeometry().top()));
        m_main->move(150, 120);
        QTRY_COMPARE(keypad.pos(),
                     QPoint(m_main->frameGeometry().right() + 1 + 3, m_main->frameGeometry().top()));

        // Emptied each time it is shown.
        QTest::mouseClick(keypad.DigitButton(3), Qt::LeftButton);
        keypad.hide();
        keypad.show();
        QVERIFY(keypad.Number().empty());
        Screenshot(&keypad, "keypad.png");
    }

    void keypadIsDraggedByAClickAnywhere() {
        m_main->show();
        CKeypadWindow keypad(m_main.get());
        keypad.show();
        const QPoint before = keypad.pos();
        QTest::mousePress(&keypad, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
        QMouseEvent move(QEvent::MouseMove, QPointF(44, 24), keypad.mapToGlobal(QPointF(44, 24)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&keypad, &move);
        QTest::mouseRelease(&keypad, Qt::LeftButton, Qt::NoModifier, QPoint(44, 24));
        QCOMPARE(keypad.pos(), before + QPoint(40, 20));
    }
};

QTEST_MAIN(CallWindowTest)
#include "CallWindowTest.moc"
