// The main window presenting the session, offscreen: its controls follow the state, the user information
// names it, the pop-up notifier and its click, the status box against a real velaphond, and the sounds
// through a real sound server.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/ClientApp.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/ServerProcess.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "server/AccountStore.h"
#include "support/AppFakes.h"
#include "support/PulseServer.h"
#include "support/TempEnvironment.h"
#include "ui/DesktopUi.h"
#include "ui/MainDialog.h"
#include "ui/ProgramSounds.h"
#include "ui/SoundPlayer.h"
#include "ui/TaskbarNotifier.h"

namespace {

using namespace guitest;

// velaphond on ADDRESS:443 with Ana (1001, contact Bea) and Bea (1002, contact Ana).
class CServer : public CServerProcess {
public:
    CServer(const QString& dir, const QString& address)
        : CServerProcess(VP_SERVER_PROGRAM, (dir + "/accounts.db").toStdString(), address.toStdString(),
                         {{"1001", "pw-1001", "Ana Gil", {{"1002", "Bea"}}},
                          {"1002", "pw-1002", "Bea Ruiz", {{"1001", "Ana"}}}}) {}
};

// Stands in for the default browser.
class CUrlRecorder : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { urls.push_back(url); }

public:
    QList<QUrl> urls;
};

}  // namespace

class MainWindowSessionTest : public COffscreenClientTest {
    Q_OBJECT

private:
    void Seed(const std::string& ntv, const std::string& password, const std::string& host) {
        std::filesystem::create_directories(m_env->ConfigDir());
        std::ofstream(m_env->HivePath()) << "[Software\\Velaphon\\Settings]\n"
                                         << "\"UserNtv\"=text:\"" << ntv << "\"\n"
                                         << "\"UserPassword\"=text:\"" << password << "\"\n"
                                         << "\"Host\"=text:\"" << host << "\"\n";
    }
    int RunClient(std::function<void(CMainDialog*, CClientApp&)> script) {
        return guitest::RunClient(script, TestOptions({"/opt/velaphon-session-test"}));
    }

private slots:
    void init() { BeginClient(true); }
    void cleanup() { EndClient(); }

    // First: ALSA reads its configuration once per process, and only a sound server running by then
    // becomes its "default".
    void soundsPlayThroughASoundServerAndOneStopsTheOther() {
        QVERIFY(CProgramSounds::ResourcePath(IDR_WAVE_RING) != nullptr);
        QVERIFY(CProgramSounds::ResourcePath(168) == nullptr);
        vp::test::CPulseServer pulse;
        std::string why;
        if (!pulse.Start(&why))
            QSKIP(qPrintable(QString::fromStdString("no PulseAudio: " + why)));
        m_env->Set("VELAPHON_SOUND_DEVICE", "default");
        CProgramSounds sounds;
        QVERIFY(sounds.Play(IDR_WAVE_RING));
        QTRY_VERIFY_WITH_TIMEOUT(sounds.Player().SoundsStarted() == 1, 5000);
        QVERIFY(sounds.Player().IsPlaying());
        // The next sound stops the ring at once and plays to its end.
        QVERIFY(sounds.Play(IDR_WAVE_CONNECTED));
        QTRY_VERIFY_WITH_TIMEOUT(sounds.Player().SoundsStarted() == 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!sounds.Player().IsPlaying(), 5000);
        QCOMPARE(sounds.LastPlayed(), UINT(IDR_WAVE_CONNECTED));
        QCOMPARE(sounds.PlayCount(), 2);
        QVERIFY(!sounds.Play(168));
    }

    void controlsFollowTheStateAndTheUserInformation() {
        Seed("5550001", "", "");  // no password: the session stays disconnected
        RunClient([](CMainDialog* main, CClientApp& app) {
            QVERIFY(!main->StatusBox()->isEnabled());
            QVERIFY(!main->ContactsButton()->isEnabled());
            QVERIFY(!main->KeypadButton()->isEnabled());
            QCOMPARE(main->UserLabel()->text(), QString("5550001"));

            app.Settings().SetStatus('C');
            main->OnSessionState('C');
            QVERIFY(main->StatusBox()->isEnabled());
            QCOMPARE(main->StatusBox()->currentIndex(), 0);
            QCOMPARE(main->StatusBox()->currentText(), QString("Connected"));
            QVERIFY(main->ContactsButton()->isEnabled());
            QVERIFY(main->KeypadButton()->isEnabled());

            SSessionUserInfo info;
            info.m_strLabel = "Ana Gil";
            info.m_strTitleName = "Ana Gil";
            main->OnUserInfo(info);
            QCOMPARE(main->windowTitle(), QString("Velaphon : Ana Gil"));
            QCOMPARE(main->UserLabel()->text(), QString("Ana Gil"));

            app.Settings().SetStatus('D');
            main->OnSessionState('D');
            QVERIFY(!main->StatusBox()->isEnabled());
            QCOMPARE(main->StatusBox()->currentIndex(), -1);
            QVERIFY(main->StatusBox()->currentText().isEmpty());
            QVERIFY(main->UserLabel()->text().isEmpty());
            QVERIFY(!main->ContactsButton()->isEnabled());
            QVERIFY(!main->KeypadButton()->isEnabled());
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void notifierShowsTheTextAndItsClickOpensTheContactsWindow() {
        Seed("5550001", "", "");
        int opened = 0;
        bool contactsOpen = false;
        RunClient([&](CMainDialog* main, CClientApp&) {
            main->SetContactsWindowHook({[&] { return contactsOpen; }, [&] { ++opened; }});
            CTaskbarNotifier* notifier = main->Notifier();
            QVERIFY(notifier != nullptr);
            QCOMPARE(notifier->Phase(), CTaskbarNotifier::EPhase::Hidden);
            QWidget* active = QApplication::activeWindow();
            main->ShowPopup("User Bea ready");
            QVERIFY(notifier->isVisible());
            QCOMPARE(notifier->Text(), QString("User Bea ready"));
            QCOMPARE(QApplication::activeWindow(), active);  // the activation stays where it was
            QTRY_COMPARE_WITH_TIMEOUT(notifier->Phase(), CTaskbarNotifier::EPhase::Staying, 3000);

            QTest::mouseClick(notifier, Qt::LeftButton, {}, QPoint(20, 20));
            QVERIFY(!notifier->isVisible());
            QTRY_COMPARE(opened, 1);
            // A contacts window already open is not opened again.
            contactsOpen = true;
            main->ShowPopup("User Bea disconnected");
            QTest::mouseClick(notifier, Qt::LeftButton, {}, QPoint(20, 20));
            QTest::qWait(50);
            QCOMPARE(opened, 1);
            // Left alone, it goes by itself after appearing, staying and hiding.
            main->ShowPopup("User Bea ready");
            QTRY_COMPARE_WITH_TIMEOUT(notifier->Phase(), CTaskbarNotifier::EPhase::Hidden, 8000);
            QVERIFY(!notifier->isVisible());
            // The contacts button opens it too.
            contactsOpen = false;
            main->OnCommand(CMainDialog::IDC_CONTACTS);
            QCOMPARE(opened, 2);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void loggedInAgainstVelaphond() {
        QTemporaryDir dir;
        CServer server(dir.path(), "127.0.0.130");
        QVERIFY(server.Started());
        Seed("1001", "pw-1001", "127.0.0.130");
        CMainDialog::SetTrayAvailableForTests(1);
        int opened = 0;
        RunClient([&](CMainDialog* main, CClientApp& app) {
            main->SetContactsWindowHook({nullptr, [&] { ++opened; }});
            QTRY_VERIFY_WITH_TIMEOUT(main->ContactsButton()->isEnabled(), 15000);
            QVERIFY(main->KeypadButton()->isEnabled());
            QCOMPARE(main->StatusBox()->currentText(), QString("Connected"));
            QTRY_COMPARE_WITH_TIMEOUT(main->windowTitle(), QString("Velaphon : Ana Gil"), 10000);
            QCOMPARE(main->UserLabel()->text(), QString("Ana Gil"));
            QCOMPARE(main->Sounds().LastPlayed(), UINT(IDR_WAVE_CONNECTED));
            QTRY_COMPARE(app.Contacts().size(), size_t(1));

            // The tray menu holds the properties and exit entries.
            QStringList entries;
            for (QAction* a : main->TrayMenu()->actions())
                entries << a->objectName();
            QCOMPARE(entries, QStringList({"properties", "exit"}));

            // Bea logs in: the pop-up tells, and its click opens the contacts window.
            CClientApp beaApp;
            beaApp.Settings().SetUser("1002", "pw-1002");
            beaApp.Settings().SetServer("127.0.0.130", 443);
            vp::test::CQuietSessionWindow beaWindow;  // a peer logged in from this process, shown nowhere
            CSessionController bea(beaApp, beaWindow);
            bea.Start();
            QTRY_VERIFY_WITH_TIMEOUT(main->Notifier()->isVisible(), 15000);
            QCOMPARE(main->Notifier()->Text(), QString("User Bea ready"));
            QTest::mouseClick(main->Notifier(), Qt::LeftButton, {}, QPoint(20, 20));
            QTRY_COMPARE(opened, 1);

            // The help link opens the help address of the user information in the default browser.
            CUrlRecorder browser;
            QDesktopServices::setUrlHandler("http", &browser, "Open");
            emit main->HelpLink()->linkActivated("help");
            QTRY_COMPARE(browser.urls.size(), 1);
            QCOMPARE(browser.urls[0].toString(), QString::fromStdString(app.m_strHelpUrl));
            QVERIFY(browser.urls[0].toString().startsWith("http://127.0.0.130:"));
            QVERIFY(browser.urls[0].toString().endsWith("/help"));
            QDesktopServices::unsetUrlHandler("http");

            // The user picks "Away" in the status box: the server hears it.
            main->StatusBox()->setCurrentIndex(1);
            emit main->StatusBox()->activated(1);
            QVERIFY(server.WaitForLog("status 1001 A"));
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void theGuestIsADirectCall() {
        QTemporaryDir dir;
        CServer server(dir.path(), "127.0.0.131");
        QVERIFY(server.Started());
        Seed(CClientApp::kGuestNtv, CClientApp::kGuestNtv, "127.0.0.131");
        RunClient([&](CMainDialog* main, CClientApp&) {
            QTRY_COMPARE_WITH_TIMEOUT(main->windowTitle(), QString("Velaphon : 888888888888888"), 15000);
            QCOMPARE(main->UserLabel()->text(), QString("Direct call"));
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void noSoundDeviceIsSilence() {
        CSoundPlayer player("no-such-device");
        player.Play(16000, 1, std::vector<int16_t>(1600, 1000));
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying(), 3000);
        QCOMPARE(player.SoundsStarted(), 0);
        player.Play(0, 1, {});  // nothing to play
        QVERIFY(!player.IsPlaying());
    }
};

QTEST_MAIN(MainWindowSessionTest)
#include "MainWindowSessionTest.moc"
