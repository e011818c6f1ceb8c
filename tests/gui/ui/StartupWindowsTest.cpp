// The start-up windows offscreen: the first-run dialog, the notices, and the main window's shell
// (close, minimise, tray, corner, Enter, exit), each driven through CClientApp and CDesktopUi.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/ClientApp.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "platform/InstanceLock.h"
#include "platform/StringTable.h"
#include "platform/qt/QtMessagePump.h"
#include "support/TempEnvironment.h"
#include "ui/DesktopUi.h"
#include "ui/FirstRunDialog.h"
#include "ui/MainDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/ProxyDialog.h"

namespace {

using namespace guitest;

QString Text(UINT id) {
    return QString::fromUtf8(LoadString(id));
}

// Answers the next notice that appears: OK or Cancel. What it saw is kept in the returned record.
struct SAnswer {
    QString text;
    bool hadCancel = false;
    bool mainWindowExisted = false;
    bool answered = false;
};
std::shared_ptr<SAnswer> AnswerNextNotice(bool ok) {
    auto answer = std::make_shared<SAnswer>();
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, ok, tries] {
        CNoticeDialog* notice = FindVisible<CNoticeDialog>();
        if (notice == nullptr) {
            if (++*tries > 1000)
                timer->deleteLater();  // gave up after ~5 s; the test will say why
            return;
        }
        answer->text = notice->Text();
        answer->hadCancel = notice->CancelButton() != nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<CMainDialog*>(w) != nullptr)
                answer->mainWindowExisted = true;
        answer->answered = true;
        QTest::mouseClick(ok ? notice->OkButton() : notice->CancelButton(), Qt::LeftButton);
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
    return answer;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class StartupWindowsTest : public COffscreenClientTest {
    Q_OBJECT

private:
    void Seed(const std::string& values) {
        std::filesystem::create_directories(m_env->ConfigDir());
        std::ofstream(m_env->HivePath()) << "[Software\\Velaphon\\Settings]\n"
                                         << "\"UserNtv\"=text:\"5550001\"\n"
                                         << values;
    }
    SStartOptions Options(std::vector<std::string> args = {"/opt/velaphon-gui-test"}) {
        return TestOptions(std::move(args));
    }

private slots:
    void init() { BeginClient(false); }
    void cleanup() { EndClient(); }

    void firstRunDialogRefusesEmptyFields() {
        CDesktopUi ui;
        std::vector<QString> notices;
        Script([&] {
            auto* d = FindVisible<CFirstRunDialog>();
            QVERIFY(d != nullptr);
            QCOMPARE(d->PasswordEdit()->echoMode(), QLineEdit::Password);
            Screenshot(d, "first-run-dialog.png");
            d->NtvEdit()->setText("5550001");
            auto a1 = AnswerNextNotice(true);
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
            QVERIFY(a1->answered);
            QCOMPARE(a1->text, Text(IDS_FIELD_NOT_FILLED));
            QVERIFY(!a1->hadCancel);
            QVERIFY(d->isVisible());

            d->PasswordEdit()->setText("secret");
            d->ServerEdit()->setText("   ");  // blanks are no server
            auto a2 = AnswerNextNotice(true);
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
            QVERIFY(a2->answered);
            QVERIFY(d->isVisible());

            d->ServerEdit()->setText(" vp.example.org ");
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
        });
        std::string ntv, password, server;
        QVERIFY(ui.RunFirstRunDialog(ntv, password, server));
        QCOMPARE(ntv, std::string("5550001"));
        QCOMPARE(password, std::string("secret"));
        QCOMPARE(server, std::string("vp.example.org"));

        Script([] { QTest::mouseClick(FindVisible<CFirstRunDialog>()->CancelButton(), Qt::LeftButton); });
        QVERIFY(!ui.RunFirstRunDialog(ntv, password, server));
    }

    void firstStartThroughTheWindowsStoresTheAccount() {
        std::shared_ptr<SAnswer> exit;
        int code = RunClient(
            [&](CMainDialog* main, CClientApp& app) {
                QCOMPARE(main->UserLabel()->text(), QString("4440001"));
                QCOMPARE(app.Settings().GetHost(), std::string("vp.example.org"));
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            [&] {
                SStartOptions o = Options();
                Script([] {
                    auto* d = FindVisible<CFirstRunDialog>();
                    QVERIFY(d != nullptr);
                    d->NtvEdit()->setText("4440001");
                    d->PasswordEdit()->setText("pw");
                    d->ServerEdit()->setText("vp.example.org");
                    QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                });
                return o;
            }());
        QCOMPARE(code, 0);
        CSettings stored;
        stored.Load();
        QCOMPARE(stored.GetNtv(), std::string("4440001"));
    }

    void secondCopyCancelEndsBeforeAnyWindow() {
        Seed("");
        CInstanceLock first;
        QVERIFY(!first.Acquire("velaphon-gui-test"));
        CDesktopUi ui;
        CClientApp app;
        auto answer = AnswerNextNotice(false);
        QCOMPARE(app.Run(Options(), ui), 0);
        QVERIFY(answer->answered);
        QCOMPARE(answer->text, Text(IDS_ALREADY_ACTIVE));
        QVERIFY(answer->hadCancel);
        QVERIFY(!answer->mainWindowExisted);
        QCOMPARE(ui.MainWindowsMade(), 0);
    }

    void secondCopyOkGoesOn() {
        Seed("");
        CInstanceLock first;
        first.Acquire("velaphon-gui-test");
        auto answer = AnswerNextNotice(true);
        bool ran = false;
        RunClient(
            [&](CMainDialog* main, CClientApp& app) {
                ran = true;
                QVERIFY(app.IsAnotherInstance());
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QVERIFY(answer->answered);
        QVERIFY(ran);
    }

    void closeAsksAndOnlyOkEnds() {
        Seed("");
        std::shared_ptr<SAnswer> no, yes;
        bool stillRunning = false;
        int code = RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QVERIFY(main->isVisible());
                Screenshot(main, "main-window.png");
                no = AnswerNextNotice(false);
                QTest::mouseClick(main->CloseButton(), Qt::LeftButton);
                QVERIFY(no->answered);
                stillRunning = main->IsRunning() && main->isVisible();
                // The window manager's close and Escape take the same way.
                yes = AnswerNextNotice(true);
                main->close();
            },
            Options());
        QCOMPARE(code, 0);
        QCOMPARE(no->text, Text(IDS_EXIT_QUESTION));
        QVERIFY(no->hadCancel);
        QVERIFY(stillRunning);
        QVERIFY(yes->answered);
    }

    void closeWithMinimizeOnCloseMinimizesWithoutATray() {
        Seed("\"MinimizeOnClose\"=binary:01,00,00,00\n");
        bool minimized = false, running = false, noNotice = false;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QVERIFY(!main->HasTray());
                QTest::mouseClick(main->CloseButton(), Qt::LeftButton);
                QTRY_VERIFY(main->isMinimized());
                minimized = true;
                noNotice = FindVisible<CNoticeDialog>() == nullptr;
                running = main->IsRunning();
                main->OnCommand(CMainDialog::ID_APP_EXIT);  // ends without asking
            },
            Options());
        QVERIFY(minimized);
        QVERIFY(noNotice);
        QVERIFY(running);
    }

    void closeWithMinimizeOnCloseHidesToTheTray() {
        Seed("\"MinimizeOnClose\"=binary:01,00,00,00\n");
        CMainDialog::SetTrayAvailableForTests(1);
        bool hidden = false, back = false, menu = false;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QVERIFY(main->HasTray());
                QCOMPARE(main->Tray()->toolTip(), QString("Velaphon"));
                main->KeypadButton()->setCheckable(true);
                main->KeypadButton()->setChecked(true);
                main->close();
                hidden = !main->isVisible() && main->IsRunning() && !main->KeypadButton()->isChecked();
                main->OnTrayActivated(QSystemTrayIcon::Trigger);
                back = main->isVisible();
                main->OnTrayActivated(QSystemTrayIcon::Trigger);
                QVERIFY(!main->isVisible());
                main->OnTrayActivated(QSystemTrayIcon::DoubleClick);
                QVERIFY(main->isVisible());
                menu = main->TrayMenuAllowed();
                // Minimised by the desktop: hidden to the tray as well.
                main->KeypadButton()->setChecked(true);
                main->showMinimized();
                QTRY_VERIFY(!main->isVisible());
                QVERIFY(!main->KeypadButton()->isChecked());
                main->OnTrayActivated(QSystemTrayIcon::DoubleClick);
                QVERIFY(main->isVisible() && !main->isMinimized());
                // The menu's exit entry ends at once, without asking.
                for (QAction* a : main->TrayMenu()->actions())
                    if (a->objectName() == "exit")
                        a->trigger();
            },
            Options());
        QVERIFY(hidden);
        QVERIFY(back);
        QVERIFY(menu);
    }

    void trayMenuNeedsMinimizeOnClose() {
        Seed("");
        CMainDialog::SetTrayAvailableForTests(1);
        bool allowed = true;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                allowed = main->TrayMenuAllowed();
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QVERIFY(!allowed);
    }

    void cornerThreeSticksToTheWorkAreaAndCannotBeDragged() {
        Seed("\"CornerPosition\"=binary:03,00,00,00\n");
        QPoint expected, afterDrag, afterMove;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QRect area = main->screen()->availableGeometry();
                QRect frame = main->frameGeometry();
                expected = QPoint(area.right() + 1 - frame.width(), area.bottom() + 1 - frame.height());
                QCOMPARE(main->pos(), expected);
                QPoint grip(main->width() / 2, main->height() - 4);
                SendMouse(main, QEvent::MouseButtonPress, grip, Qt::LeftButton);
                SendMouse(main, QEvent::MouseMove, grip - QPoint(100, 100), Qt::LeftButton);
                SendMouse(main, QEvent::MouseButtonRelease, grip - QPoint(100, 100), Qt::NoButton);
                afterDrag = main->pos();
                main->move(10, 10);
                QApplication::processEvents();
                afterMove = main->pos();
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QCOMPARE(afterDrag, expected);
        QCOMPARE(afterMove, expected);
    }

    void aFreeWindowMovesWithTheMouse() {
        Seed("\"CornerPosition\"=binary:ff,ff,ff,ff\n");
        QPoint before, after;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                main->move(200, 150);
                before = main->pos();
                QPoint grip(main->width() / 2, main->height() - 4);
                SendMouse(main, QEvent::MouseButtonPress, grip, Qt::LeftButton);
                SendMouse(main, QEvent::MouseMove, grip + QPoint(30, 20), Qt::LeftButton);
                SendMouse(main, QEvent::MouseButtonRelease, grip + QPoint(30, 20), Qt::NoButton);
                after = main->pos();
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QCOMPARE(after, before + QPoint(30, 20));
    }

    void enterDoesNothing() {
        Seed("");
        bool running = false, noNotice = false;
        RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QTest::keyClick(main, Qt::Key_Return);
                QTest::keyClick(main->CloseButton(), Qt::Key_Enter);
                QTest::qWait(20);
                running = main->IsRunning() && main->isVisible();
                noNotice = FindVisible<CNoticeDialog>() == nullptr;
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QVERIFY(running);
        QVERIFY(noNotice);
    }

    void startsMinimizedAndOnTopAsStored() {
        Seed("\"StartMinimized\"=binary:01,00,00,00\n\"AllwaysOnTop\"=binary:01,00,00,00\n");
        bool minimized = false, onTop = false, offAgain = true;
        RunClient(
            [&](CMainDialog* main, CClientApp& app) {
                QTRY_VERIFY(main->isMinimized());
                minimized = true;
                onTop = main->windowFlags() & Qt::WindowStaysOnTopHint;
                app.Settings().SetAlwaysOnTop(false);
                offAgain = main->windowFlags() & Qt::WindowStaysOnTopHint;
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options());
        QVERIFY(minimized);
        QVERIFY(onTop);
        QVERIFY(!offAgain);
    }

    void dynamicModeShowsDirectCall() {
        bool checked = false;
        RunClient(
            [&](CMainDialog* main, CClientApp& app) {
                QVERIFY(app.IsDynamic());
                QCOMPARE(main->UserLabel()->text(), Text(IDS_DIRECT_CALL));
                QVERIFY(main->HelpLink()->isHidden());
                QVERIFY(!main->TrayMenuAllowed());
                QVERIFY(!main->StatusBox()->isEnabled());
                checked = true;
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            Options({"/x/velaphon-VLPDINAMIC", "velaphon:5550009@vp.example.org"}));
        QVERIFY(checked);
    }

    void proxyDialogShowsWhatWasFound() {
        CDesktopUi ui;
        SProxyData proxy;
        proxy.m_strHost = "proxy.lan";
        proxy.m_nPort = 8080;
        Script([] {
            auto* d = FindVisible<CProxyDialog>();
            QVERIFY(d != nullptr);
            QCOMPARE(d->ServerEdit()->text(), QString("proxy.lan"));
            QCOMPARE(d->PortEdit()->text(), QString("8080"));
            QCOMPARE(d->PasswordEdit()->echoMode(), QLineEdit::Password);
            d->UserEdit()->setText("joe");
            d->PasswordEdit()->setText("pw");
            Screenshot(d, "proxy-dialog.png");
            QTest::mouseClick(d->OkButton(), Qt::LeftButton);
        });
        QVERIFY(ui.RunProxyDialog(proxy));
        QCOMPARE(proxy.m_strUser, std::string("joe"));
        QCOMPARE(proxy.m_strPassword, std::string("pw"));
        QCOMPARE(proxy.m_nPort, 8080);

        Script([] { QTest::mouseClick(FindVisible<CProxyDialog>()->CancelButton(), Qt::LeftButton); });
        QVERIFY(!ui.RunProxyDialog(proxy));
    }

    void noticesSpeakSpanishWhenAsked() {
        SetStringLanguage(LANG_SPANISH);
        CNoticeDialog notice(IDS_ALREADY_ACTIVE, false);
        QVERIFY(notice.Text().startsWith(QString::fromUtf8("La aplicación ya está activa")));
        QCOMPARE(notice.OkButton()->text(), QString("Aceptar"));
        QCOMPARE(notice.CancelButton()->text(), QString("Cancelar"));
        SetStringLanguage(LANG_ENGLISH_US);
        CNoticeDialog okOnly(IDS_OS_TOO_OLD, true);
        QVERIFY(okOnly.CancelButton() == nullptr);
        CNoticeDialog question(IDS_EXIT_QUESTION, false);
        question.show();
        Screenshot(&question, "notice-dialog.png");
    }
};

QTEST_MAIN(StartupWindowsTest)
#include "StartupWindowsTest.moc"
