// The contacts window in the desktop client (offscreen, in this process) against a real velaphond with
// velaphon-cli peers: icons per presence and their live change, Append, Edit and Delete through the
// buttons with their dialogs and notices, the stored list a fresh login receives, and Call.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/ClientApp.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "gui/support/ServerProcess.h"
#include "integration/call/CliProcess.h"
#include "ui/CallDialog.h"
#include "ui/ContactDialog.h"
#include "ui/ContactsDialog.h"
#include "ui/MainDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/TaskbarNotifier.h"

namespace {

using namespace guitest;

const std::string kAddress = "127.0.0.200";

// Ana (the desktop) knows Bea, Carla and Dani; Eva is not in her list yet.
class CServer : public CServerProcess {
public:
    explicit CServer(const std::string& dir)
        : CServerProcess(VP_SERVER_PROGRAM, dir + "/accounts.db", kAddress,
                         {{"5550201",
                           "pw-201",
                           "Ana Gil",
                           {{"5550202", "Bea R."}, {"5550203", "Carla"}, {"5550204", "Dani"}}},
                          {"5550202", "pw-202", "Bea Ruiz", {}},
                          {"5550203", "pw-203", "Carla Sanz", {}},
                          {"5550204", "pw-204", "Dani Vega", {}},
                          {"5550205", "pw-205", "Eva Nieto", {}}}) {}
};

std::unique_ptr<calltest::CCli> Peer(const std::string& ntv, const std::string& password,
                                     std::vector<std::string> extra = {}) {
    return std::make_unique<calltest::CCli>(kAddress, ntv, password, extra);
}

QStringList Texts(QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QString SelectedText(QListWidget* list) {
    const auto chosen = list->selectedItems();
    return chosen.isEmpty() ? QString() : chosen.front()->text();
}

}  // namespace

class ContactsWindowTest : public COffscreenClientTest {
    Q_OBJECT

    std::unique_ptr<CServer> m_server;

private slots:
    void initTestCase() {
        BeginClient(true);
        m_server = std::make_unique<CServer>(m_env->Root());
        QVERIFY(m_server->Started());
        SeedDesktopUser("5550201", "pw-201", kAddress);
    }
    void cleanupTestCase() {
        SetWaveBackends({});
        m_server.reset();
        EndClient();
    }

    void theWindowShowsPresenceChangesTheStoredListAndCalls() {
        auto bea = Peer("5550202", "pw-202", {"--auto-answer", "--hangup-after", "1"});
        auto carla = Peer("5550203", "pw-203", {"--status", "away"});
        std::unique_ptr<calltest::CCli> dani;
        QVERIFY(bea->WaitLine("state C"));
        QVERIFY(carla->WaitLine("state C"));

        bool contactsDone = false;
        const int code = RunClient(
            [&](CMainDialog* main, CClientApp&) {
                QTRY_VERIFY_WITH_TIMEOUT(main->ContactsButton()->isEnabled(), 15000);
                Screenshot(main, "main-window-online.png");
                // What runs inside the contacts window's own loop; whatever happens, the window closes.
                QTimer::singleShot(0, [&] {
                    CContactsDialog* contacts = main->ContactsDialog();
                    struct SCloser {
                        CContactsDialog* d;
                        ~SCloser() {
                            if (d != nullptr && d->isVisible())
                                d->reject();
                        }
                    } closer{contacts};
                    QVERIFY(contacts != nullptr && contacts->isVisible());
                    QListWidget* list = contacts->List();
                    QTRY_COMPARE_WITH_TIMEOUT(Texts(list), QStringList({"Bea R.", "Carla", "Dani"}), 10000);
                    QTRY_COMPARE_WITH_TIMEOUT(contacts->IconOf("Bea R."), int(kIconReady), 10000);
                    QTRY_COMPARE_WITH_TIMEOUT(contacts->IconOf("Carla"), int(kIconBusy), 10000);
                    QCOMPARE(contacts->IconOf("Dani"), int(kIconDisconnected));
                    QCOMPARE(list->item(0)->toolTip(), QString("Contact :[Bea R.]    --   NTV :[ 5550202]"));
                    // Nothing selected: only Append and Search.
                    QVERIFY(contacts->AppendButton()->isEnabled() && contacts->SearchButton()->isEnabled());
                    QVERIFY(!contacts->CallButton()->isEnabled() && !contacts->DeleteButton()->isEnabled() &&
                            !contacts->EditButton()->isEnabled());
                    Screenshot(contacts, "contacts-window.png");
                    // A click on the pop-up while the window is open opens no second one.
                    main->WindowProc(WM_TASKBARNOTIFIERCLICKED, 0, 0);
                    QCOMPARE(main->ContactsDialog(), contacts);

                    // A contact that logs in changes its icon while the window is open.
                    dani = Peer("5550204", "pw-204");
                    QTRY_COMPARE_WITH_TIMEOUT(contacts->IconOf("Dani"), int(kIconReady), 15000);

                    // Append Eva.
                    WhenShown<CContactDialog>([](CContactDialog* d) {
                        QTest::keyClicks(d->NtvEdit(), "5550205");
                        QTest::keyClicks(d->NicknameEdit(), "Eva Nueva");
                        Screenshot(d, "contact-dialog.png");
                        QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                    });
                    QTest::mouseClick(contacts->AppendButton(), Qt::LeftButton);
                    QCOMPARE(Texts(list), QStringList({"Bea R.", "Carla", "Dani", "Eva Nueva"}));
                    QCOMPARE(SelectedText(list), QString("Eva Nueva"));

                    // Appending an NTV already listed: notice 140, nothing added.
                    auto refused = std::make_shared<QString>();
                    WhenShown<CContactDialog>([refused](CContactDialog* d) {
                        d->NtvEdit()->setText("5550202");
                        WhenShown<CNoticeDialog>([refused](CNoticeDialog* n) {
                            *refused = n->Text();
                            QTest::mouseClick(n->OkButton(), Qt::LeftButton);
                        });
                        QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                    });
                    QTest::mouseClick(contacts->AppendButton(), Qt::LeftButton);
                    QCOMPARE(*refused, QString("The contact already exist"));
                    QCOMPARE(list->count(), 4);

                    // Edit Eva's nickname, found by the find field; her NTV cannot change there.
                    QTest::keyClicks(contacts->FindEdit(), "EVA");
                    QCOMPARE(SelectedText(list), QString("Eva Nueva"));
                    QVERIFY(contacts->EditButton()->isEnabled() && contacts->DeleteButton()->isEnabled());
                    auto shownNtv = std::make_shared<QString>();
                    WhenShown<CContactDialog>([shownNtv](CContactDialog* d) {
                        *shownNtv = d->NtvEdit()->isReadOnly() ? d->NtvEdit()->text() : QString("editable");
                        d->NicknameEdit()->setText("Eva N.");
                        QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                    });
                    QTest::mouseClick(contacts->EditButton(), Qt::LeftButton);
                    QCOMPARE(*shownNtv, QString("5550205"));
                    QCOMPARE(Texts(list), QStringList({"Bea R.", "Carla", "Dani", "Eva N."}));

                    // Delete Carla after notice 109; an away contact cannot be called.
                    contacts->FindEdit()->clear();
                    QTest::keyClicks(contacts->FindEdit(), "car");
                    QCOMPARE(SelectedText(list), QString("Carla"));
                    QVERIFY(!contacts->CallButton()->isEnabled());
                    auto asked = std::make_shared<QString>();
                    WhenShown<CNoticeDialog>([asked](CNoticeDialog* n) {
                        *asked = n->Text();
                        QTest::mouseClick(n->OkButton(), Qt::LeftButton);
                    });
                    QTest::mouseClick(contacts->DeleteButton(), Qt::LeftButton);
                    QCOMPARE(*asked, QString("Do you want delete selected contact?"));
                    QCOMPARE(Texts(list), QStringList({"Bea R.", "Dani", "Eva N."}));

                    // Call Bea: the window gives way to the call window.
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(list->item(0)).center());
                    QCOMPARE(SelectedText(list), QString("Bea R."));
                    QVERIFY(contacts->CallButton()->isEnabled());
                    contactsDone = true;
                    QTest::mouseClick(contacts->CallButton(), Qt::LeftButton);
                    QVERIFY(!contacts->isVisible());
                });
                QTest::mouseClick(main->ContactsButton(), Qt::LeftButton);
                QVERIFY(contactsDone);
                QVERIFY(main->ContactsDialog() == nullptr);
                // Waited for with Qt's events flowing: the desktop's side of the call runs on this thread.
                QTRY_VERIFY_WITH_TIMEOUT(bea->WaitLine("incoming 5550201 ", 0, true), 15000);
                QTRY_VERIFY_WITH_TIMEOUT(main->CallDialog()->isVisible(), 10000);
                QTRY_VERIFY_WITH_TIMEOUT(!main->CallDialog()->isVisible(), 15000);  // Bea hangs up

                // The pop-up's click opens the window again, with the list as it is now.
                QStringList reopened;
                QTimer::singleShot(0, [&] {
                    if (CContactsDialog* contacts = main->ContactsDialog()) {
                        reopened = Texts(contacts->List());
                        contacts->reject();
                    }
                });
                main->WindowProc(WM_TASKBARNOTIFIERCLICKED, 0, 0);
                QCOMPARE(reopened, QStringList({"Bea R.", "Dani", "Eva N."}));
                main->OnCommand(CMainDialog::ID_APP_EXIT);
            },
            TestOptions({"/opt/velaphon-contacts-test"}));
        QCOMPARE(code, 0);

        // A fresh login of the same user receives the changed list.
        auto ana = Peer("5550201", "pw-201", {"--duration", "3"});
        QCOMPARE(ana->Wait(), 0);
        QCOMPARE(ana->Count("contact 5550202 Bea R."), 1);
        QCOMPARE(ana->Count("contact 5550204 Dani"), 1);
        QCOMPARE(ana->Count("contact 5550205 Eva N."), 1);
        QCOMPARE(ana->Count("contact 5550203 Carla"), 0);
    }
};

QTEST_MAIN(ContactsWindowTest)
#include "ContactsWindowTest.moc"
