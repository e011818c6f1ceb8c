// The path a user takes from the directory to a call, in the desktop client against a real velaphond:
// search by country and keyword, add the found user through the page's link, see them in the contacts
// window turn ready when they log in, call them from there, and the callee sees the call arrive.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/ContactsWindowModel.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "gui/directory/DirectorySupport.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "integration/call/CliProcess.h"
#include "ui/CallDialog.h"
#include "ui/ContactDialog.h"
#include "ui/ContactsDialog.h"
#include "ui/DirectoryDialog.h"
#include "ui/NoticeDialog.h"

namespace {

using namespace guitest;

const std::string kAddress = "127.0.0.212";

}  // namespace

class DirectoryPathTest : public COffscreenClientTest {
    Q_OBJECT

private slots:
    void fromTheDirectoryToACall() {
        BeginClient(true);
        vp::test::CChildProcess server;
        const std::string url =
            dirtest::StartServer(server, m_env->Root() + "/users.db", kAddress,
                                 {{"2001", "Ana Gil", "ES", "Sevilla", "F", "ES", "cine jazz"},
                                  {"2002", "Bea Ruiz", "ES", "Madrid", "F", "ES", "teatro"},
                                  {"2003", "Carl Hill", "UK", "London", "M", "EN", "cine"}});
        QVERIFY(!url.empty());
        SeedDesktopUser("2002", "pw", kAddress);

        std::unique_ptr<calltest::CCli> ana;
        bool reachedCall = false;
        const int code = RunClient(
            [&](CMainDialog* main, CClientApp& app) {
                QTRY_VERIFY_WITH_TIMEOUT(main->ContactsButton()->isEnabled(), 15000);
                QTRY_VERIFY_WITH_TIMEOUT(!app.m_strDirectoryUrl.empty(), 10000);
                // Inside the contacts window's loop.
                QTimer::singleShot(0, [&] {
                    CContactsDialog* contacts = main->ContactsDialog();
                    QVERIFY(contacts != nullptr);
                    QListWidget* list = contacts->List();
                    QCOMPARE(list->count(), 0);
                    // Inside the directory's loop, opened by Search.
                    QTimer::singleShot(0, [&] {
                        auto* directory = FindVisible<CDirectoryDialog>();
                        QVERIFY(directory != nullptr);
                        QWebEnginePage* page = directory->Browser()->page();
                        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
                        QVERIFY(loaded.wait(20000));
                        directory->CountryBox()->setCurrentIndex(65);  // ESPAÑA
                        directory->KeywordsEdit()->setText("cine");
                        QTest::mouseClick(directory->SearchButton(), Qt::LeftButton);
                        QVERIFY(loaded.wait(20000));
                        QCOMPARE(dirtest::ListedNtvs(page), QString("2001"));

                        // The add link, clicked in the page: agree, name her, and she is listed.
                        WhenShown<CNoticeDialog>(
                            [](CNoticeDialog* n) {
                                WhenShown<CContactDialog>([](CContactDialog* d) {
                                    d->NicknameEdit()->setText("Ana");
                                    QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                                });
                                QTest::mouseClick(n->OkButton(), Qt::LeftButton);
                            },
                            "addContact");
                        dirtest::RunJs(page, "document.querySelector('a[href*=addntv]').click()");
                        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1, 15000);
                        QVERIFY(directory->isVisible());
                        directory->reject();
                    });
                    QTest::mouseClick(contacts->SearchButton(), Qt::LeftButton);
                    QCOMPARE(list->item(0)->text(), QString("Ana"));
                    QCOMPARE(contacts->IconOf("Ana"), int(kIconDisconnected));

                    // She logs in: the icon turns ready, and a call from the window reaches her.
                    ana =
                        std::make_unique<calltest::CCli>(kAddress, "2001", "pw", std::vector<std::string>{});
                    QTRY_COMPARE_WITH_TIMEOUT(contacts->IconOf("Ana"), int(kIconReady), 15000);
                    Screenshot(contacts, "contacts-window-from-directory.png");
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(list->item(0)).center());
                    QVERIFY(contacts->CallButton()->isEnabled());
                    reachedCall = true;
                    QTest::mouseClick(contacts->CallButton(), Qt::LeftButton);
                });
                QTest::mouseClick(main->ContactsButton(), Qt::LeftButton);
                QVERIFY(reachedCall);
                QTRY_VERIFY_WITH_TIMEOUT(ana->WaitLine("incoming 2002 ", 0, true), 15000);
                QTRY_VERIFY_WITH_TIMEOUT(main->CallDialog()->isVisible(), 10000);
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            TestOptions({"/opt/velaphon-directory-test"}));
        QCOMPARE(code, 0);
        SetWaveBackends({});
        ana.reset();
        EndClient();
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    guitest::UseQtEnvironment();
    QApplication app(argc, argv);
    DirectoryPathTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DirectoryPathTest.moc"
