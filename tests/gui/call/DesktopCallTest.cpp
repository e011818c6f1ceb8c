// The desktop client (offscreen, in this process) in calls with velaphon-cli through a real velaphond: the
// prompt, the call window's title and chat, the keypad, hang-up from either side, the guest caller, and
// video both ways.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/ClientApp.h"
#include "app/SessionCall.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "audio/WavFile.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "gui/support/ServerProcess.h"
#include "integration/call/CliProcess.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "server/AccountStore.h"
#include "support/Speech.h"
#include "support/TempEnvironment.h"
#include "ui/CallDialog.h"
#include "ui/DesktopUi.h"
#include "ui/KeypadWindow.h"
#include "ui/MainDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/VideoView.h"
#include "ui/VideoWindow.h"
#include "video/CaptureBackend.h"
#include "video/TestPatternCamera.h"

namespace {

using namespace guitest;

const QString kAddress = "127.0.0.150";

// velaphond on 127.0.0.150:443 with Ana (the desktop, who knows Bea as "Bea R.") and Bea (velaphon-cli).
class CServer : public CServerProcess {
public:
    explicit CServer(const QString& dir)
        : CServerProcess(VP_SERVER_PROGRAM, (dir + "/accounts.db").toStdString(), kAddress.toStdString(),
                         {{"5550141", "pw-5550141", "Ana Gil", {{"5550142", "Bea R."}}},
                          {"5550142", "pw-5550142", "Bea Ruiz", {}}}) {}
};

// The incoming prompt runs its own loop beneath whatever waits when the call arrives: it is answered from
// a timer, which fires inside that loop. `text` receives what the prompt said.
void AnswerPromptWithOk(std::shared_ptr<QString> text) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, text, tries] {
        CNoticeDialog* prompt = FindVisible<CNoticeDialog>("incoming");
        if (prompt == nullptr) {
            if (++*tries > 1000)
                timer->deleteLater();
            return;
        }
        *text = prompt->Text();
        timer->deleteLater();
        QTest::mouseClick(prompt->OkButton(), Qt::LeftButton);
    });
    timer->start();
}

using guitest::Screenshot;

bool HasLine(QListWidget* list, const QString& text, int style) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text && list->item(i)->data(Qt::UserRole).toInt() == style)
            return true;
    return false;
}

}  // namespace

class DesktopCallTest : public COffscreenClientTest {
    Q_OBJECT

    std::unique_ptr<CServer> m_server;
    std::shared_ptr<CVirtualWaveBackend> m_devices;

    std::string File(const std::string& name) const { return m_env->Root() + "/" + name; }

    int RunDesktop(std::function<void(CMainDialog*)> script) {
        return RunClient(
            [script](CMainDialog* main, CClientApp&) {
                // Logged in, the contact list known.
                QTRY_VERIFY_WITH_TIMEOUT(main->ContactsButton()->isEnabled(), 15000);
                script(main);
            },
            TestOptions({"/opt/velaphon-call-test"}));
    }
    calltest::CCli* Bea(std::unique_ptr<calltest::CCli>& holder, const std::vector<std::string>& extra,
                        const std::string& ntv = "5550142", const std::string& password = "pw-5550142") {
        holder = std::make_unique<calltest::CCli>(kAddress.toStdString(), ntv, password, extra);
        return holder.get();
    }

private slots:
    void initTestCase() {
        BeginClient(true);
        m_server = std::make_unique<CServer>(QString::fromStdString(m_env->Root()));
        QVERIFY(m_server->Started());
        // The desktop's sound: speech over and over in, a file out, no mixer.
        QVERIFY(vp::test::MakeSpeechWav("one two three four five", File("desk-says.wav"), 0.3, 0.3));
        m_devices = std::make_shared<CVirtualWaveBackend>();
        m_devices->AddWavFileCapture("desk-mic", File("desk-says.wav"), EWavePacing::RealTime,
                                     EWaveEnd::Loop);
        m_devices->AddWavFilePlayback("desk-speaker", File("desk-heard.wav"), EWavePacing::RealTime);
        SetWaveBackends({m_devices});
        SetMixerBackends({});
        // The desktop's camera is the test pattern.
        AddCaptureBackend(std::make_shared<CTestPatternBackend>());
        std::filesystem::create_directories(m_env->ConfigDir());
        std::ofstream(m_env->HivePath()) << "[Software\\Velaphon\\Settings]\n"
                                         << "\"UserNtv\"=text:\"5550141\"\n"
                                         << "\"UserPassword\"=text:\"pw-5550141\"\n"
                                         << "\"Host\"=text:\"" << kAddress.toStdString() << "\"\n"
                                         << "\"DeviceAudioInput\"=text:\"desk-mic\"\n"
                                         << "\"DeviceAudioOutput\"=text:\"desk-speaker\"\n"
                                         << "\"Silence volume\"=dword:2000\n"
                                         << "\"DeviceVideoInput\"=text:\"" << kTestPatternName << "\"\n"
                                         << "\"CornerPosition\"=dword:-1\n";
    }
    void cleanupTestCase() {
        SetWaveBackends({});
        m_server.reset();
        EndClient();
    }

    void theCliCallsTheDesktopWhichAnswersChatsAndHangsUp() {
        std::unique_ptr<calltest::CCli> holder;
        RunDesktop([&](CMainDialog* main) {
            auto asked = std::make_shared<QString>();
            AnswerPromptWithOk(asked);
            calltest::CCli* bea =
                Bea(holder, {"--call", "5550141", "--mic", "tone", "--say", "hola desde la consola"});
            CCallDialog* call = main->CallDialog();
            QTRY_VERIFY_WITH_TIMEOUT(call->isVisible(), 20000);
            QCOMPARE(*asked, QString("Accept calling from Bea R.?"));
            QCOMPARE(call->TitleLabel()->text(), QString("Calling from NTV : Bea R."));
            QVERIFY(!call->IsCallingMode());
            QTRY_VERIFY_WITH_TIMEOUT(
                HasLine(call->ChatList(), "hola desde la consola", CCallDialog::STYLE_RECEIVED), 10000);
            // The speech indicator follows the desktop's microphone.
            QTRY_VERIFY_WITH_TIMEOUT(call->IsSpeaking(), 10000);

            call->ChatInput()->setText("hola Bea");
            QTest::keyClick(call->ChatInput(), Qt::Key_Return);
            QVERIFY(HasLine(call->ChatList(), "hola Bea", CCallDialog::STYLE_OWN));
            QTRY_COMPARE_WITH_TIMEOUT(bea->Count("text hola Bea"), 1, 10000);

            QTest::qWait(1500);  // some sound both ways
            QTest::keyClick(call, Qt::Key_Escape);
            QVERIFY(!call->isVisible());
            QTRY_COMPARE_WITH_TIMEOUT(bea->Count("hangup"), 1, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(bea->Number("audio-received") > 3, 5000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
        holder.reset();
        SWavFormat format;
        std::vector<int16_t> heard;
        QVERIFY(ReadWavFile(File("desk-heard.wav"), format, heard));
        QVERIFY(heard.size() > 4000);  // Bea's tone, half a second and more
    }

    void theDesktopCallsTheCliFromTheKeypad() {
        std::unique_ptr<calltest::CCli> holder;
        RunDesktop([&](CMainDialog* main) {
            calltest::CCli* bea = Bea(holder, {"--auto-answer=1", "--say", "te oigo", "--hangup-after", "3"});
            QTRY_COMPARE_WITH_TIMEOUT(bea->Count("state C"), 1, 15000);

            QTest::mouseClick(main->KeypadButton(), Qt::LeftButton);
            CKeypadWindow* keypad = main->KeypadWindow();
            QTRY_VERIFY(keypad->isVisible());
            for (char c : std::string("5550142"))
                QTest::mouseClick(keypad->DigitButton(c - '0'), Qt::LeftButton);
            QTest::mouseClick(keypad->CallButton(), Qt::LeftButton);
            QVERIFY(keypad->Number().empty());

            CCallDialog* call = main->CallDialog();
            QTRY_VERIFY_WITH_TIMEOUT(call->isVisible(), 10000);
            QCOMPARE(call->TitleLabel()->text(), QString("Calling to NTV : Bea R."));
            QVERIFY(call->IsCallingMode());
            QTRY_VERIFY_WITH_TIMEOUT(!call->IsCallingMode(), 15000);  // after one ring, Bea answers
            QTRY_VERIFY_WITH_TIMEOUT(HasLine(call->ChatList(), "te oigo", CCallDialog::STYLE_RECEIVED),
                                     10000);
            // Bea hangs up: the window goes.
            QTRY_VERIFY_WITH_TIMEOUT(!call->isVisible(), 15000);
            QTRY_COMPARE_WITH_TIMEOUT(bea->Count("hangup"), 1, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(bea->Number("audio-received") > 3, 5000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void videoFlowsBothWaysBetweenTheDesktopAndTheCli() {
        std::unique_ptr<calltest::CCli> holder;
        RunDesktop([&](CMainDialog* main) {
            auto asked = std::make_shared<QString>();
            AnswerPromptWithOk(asked);
            calltest::CCli* bea = Bea(holder, {"--call", "5550141", "--mic", "tone", "--camera", "test"});
            CCallDialog* call = main->CallDialog();
            QTRY_VERIFY_WITH_TIMEOUT(call->isVisible(), 20000);

            // Bea's video: the window opens at zoom 2 and shows her test pattern.
            CVideoWindow* window = call->VideoWindow();
            QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 10000);
            QCOMPARE(window->Zoom(), 2);
            QTRY_VERIFY_WITH_TIMEOUT(window->View()->HasPicture(), 10000);
            QVERIFY(main->Call()->Control().Receiver().PicturesDecoded() > 0);

            // The desktop's own video: the preview runs beside the chat and Bea receives the pictures.
            const int narrow = call->width();
            QTest::mouseClick(call->VideoBox(), Qt::LeftButton);
            QVERIFY(call->VideoBox()->isChecked());
            QVERIFY(call->width() > narrow);
            QTRY_VERIFY_WITH_TIMEOUT(call->LocalPreview()->HasPicture(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(bea->Count("video-format 320 240") == 1, 10000);
            QTest::qWait(1000);  // a second of pictures both ways
            Screenshot(call, "call-window-video.png");
            Screenshot(window, "video-window-call.png");

            QTest::keyClick(call, Qt::Key_Escape);
            QVERIFY(!window->isVisible());
            QCOMPARE(call->width(), narrow);
            QTRY_COMPARE_WITH_TIMEOUT(bea->Count("hangup"), 1, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(bea->Number("video-received") > 3, 5000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void theGuestIsADirectCall() {
        std::unique_ptr<calltest::CCli> holder;
        RunDesktop([&](CMainDialog* main) {
            auto asked = std::make_shared<QString>();
            AnswerPromptWithOk(asked);
            calltest::CCli* guest =
                Bea(holder, {"--call", "5550141"}, CClientApp::kGuestNtv, CClientApp::kGuestNtv);
            CCallDialog* call = main->CallDialog();
            QTRY_VERIFY_WITH_TIMEOUT(call->isVisible(), 20000);
            QCOMPARE(*asked, QString("Accept call from direct calling?"));
            QVERIFY(call->TitleLabel()->text().endsWith("Direct call"));
            QCOMPARE(call->TitleLabel()->text(), QString("Calling from NTV : Direct call"));
            QTest::mouseClick(call->CloseButton(), Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(guest->Count("hangup"), 1, 10000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }
};

QTEST_MAIN(DesktopCallTest)
#include "DesktopCallTest.moc"
