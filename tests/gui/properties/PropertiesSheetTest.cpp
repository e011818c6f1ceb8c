// The properties sheet offscreen, inside the running client: the General page and the corner, what OK
// and Apply leave in the hive file, dynamic mode, and the connection the Connection page changes
// against a real velaphond and a real tinyproxy.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>

#include "app/ClientApp.h"
#include "app/SessionCall.h"
#include "audio/MixerBackend.h"
#include "audio/VirtualWave.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "gui/support/ServerProcess.h"
#include "integration/call/CliProcess.h"
#include "support/AppFakes.h"
#include "support/TinyProxy.h"
#include "ui/AccountDialog.h"
#include "ui/AudioPage.h"
#include "ui/ConnectionPage.h"
#include "ui/GeneralPage.h"
#include "ui/MainDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/PropertiesDialog.h"

namespace {

using namespace guitest;

// Runs `answer` on the modal window of type T that `open` shows, from inside its loop. A window that
// does not come, or an answer that fails, leaves every modal window closed so the test cannot hang.
template <class T>
void Answer(std::function<void(T*)> answer, std::function<void()> open) {
    QTimer::singleShot(0, [answer] {
        struct SCloser {
            ~SCloser() {
                while (QWidget* w = QApplication::activeModalWidget()) {
                    if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible())
                        d->reject();
                    else
                        break;
                }
            }
        };
        T* w = FindVisible<T>();
        if (w == nullptr) {
            SCloser closer;
            QFAIL(qPrintable(QStringLiteral("the window did not open: ") + T::staticMetaObject.className()));
        }
        answer(w);
    });
    open();
}

// The sheet the main window's settings button opens.
void WithSheet(CMainDialog* main, std::function<void(CPropertiesDialog*)> script) {
    Answer<CPropertiesDialog>(script, [main] { main->OnCommand(CMainDialog::IDC_SETTINGS); });
}

// Clicks `button` and answers OK to the notice it shows; the notice's text.
QString NoticeFrom(QPushButton* button) {
    QString text;
    Answer<CNoticeDialog>(
        [&](CNoticeDialog* notice) {
            text = notice->Text();
            notice->OkButton()->click();
        },
        [button] { button->click(); });
    return text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The lines of `a` that `b` does not have.
QStringList LinesNotIn(const std::string& a, const std::string& b) {
    std::set<QString> other;
    for (const QString& l : QString::fromStdString(b).split('\n'))
        other.insert(l);
    QStringList out;
    for (const QString& l : QString::fromStdString(a).split('\n'))
        if (!other.count(l))
            out << l;
    return out;
}

// Virtual devices that remember which capture devices were opened.
class CRecordingWaves : public CVirtualWaveBackend {
public:
    MMRESULT OpenCapture(const std::string& name, const WAVEFORMATEX& format,
                         std::unique_ptr<IWaveSource>& source) override {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Opened.push_back(name);
        }
        return CVirtualWaveBackend::OpenCapture(name, format, source);
    }
    std::vector<std::string> Opened() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Opened;
    }

private:
    std::mutex m_Mutex;
    std::vector<std::string> m_Opened;
};

class CServer : public CServerProcess {
public:
    CServer(const QString& dir, const QString& address)
        : CServerProcess(VP_SERVER_PROGRAM, (dir + "/accounts.db").toStdString(), address.toStdString(),
                         {{"1001", "pw-1001", "Ana Gil", {}}}) {}
};

}  // namespace

class PropertiesSheetTest : public COffscreenClientTest {
    Q_OBJECT

private:
    // A hive written whole, as the client writes it, with the corner and the accounts given.
    void Seed(int corner, const CAccountList& accounts) {
        CSettings s;
        s.SetCornerPosition(corner);
        s.SetAudioIn("USB headset");  // no such device here: the name must survive
        s.SetVideoIn("Camera 1");
        QVERIFY(s.Save());
        QVERIFY(SaveAccounts(accounts, s));
    }
    int RunClient(std::function<void(CMainDialog*, CClientApp&)> script) {
        return guitest::RunClient(script, TestOptions({"/opt/velaphon-properties-test"}));
    }

private slots:
    void init() { BeginClient(true); }
    void cleanup() { EndClient(); }

    void generalPageShowsTheCornerAndOkStoresExactlyWhatChanged() {
        Seed(2, {{"1001", "pw-1001", "127.0.0.229", 1}});
        const std::string before = ReadFile(m_env->HivePath());
        RunClient([&](CMainDialog* main, CClientApp& app) {
            QVERIFY(main->SettingsButton()->isEnabled());
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                QVERIFY(main->IsPropertiesOpen());
                QCOMPARE(sheet->PageList()->count(), 4);
                QStringList rows;
                for (int i = 0; i < 4; ++i)
                    rows << sheet->PageList()->item(i)->text();
                QCOMPARE(rows, QStringList({"General", "Conexión", "Audio", "Video"}));
                QCOMPARE(sheet->VersionLabel()->text(), QString("Version : 02.00.003"));
                QCOMPARE(sheet->Pages()->currentWidget(), sheet->Page(CPropertiesDialog::ROW_GENERAL));

                CGeneralPage* page = sheet->GeneralPage();
                QVERIFY(page->LockBox()->isChecked());
                QVERIFY(page->CornerButton(2)->isChecked());
                for (int i = 0; i < 4; ++i) {
                    QVERIFY(page->CornerButton(i)->isEnabled());
                    QCOMPARE(page->CornerPicture(i)->isVisible(), i == 2);
                }
                Screenshot(sheet, "properties-general.png");

                // Unlocking hides every picture and disables the corners; locking again takes right down.
                page->LockBox()->click();
                for (int i = 0; i < 4; ++i) {
                    QVERIFY(!page->CornerButton(i)->isEnabled());
                    QVERIFY(!page->CornerButton(i)->isChecked());
                    QVERIFY(!page->CornerPicture(i)->isVisible());
                }
                page->LockBox()->click();
                QVERIFY(page->CornerButton(3)->isChecked());
                QVERIFY(page->CornerPicture(3)->isVisible());
                page->CornerButton(2)->click();
                QVERIFY(page->CornerPicture(2)->isVisible());
                QVERIFY(!page->CornerPicture(3)->isVisible());

                page->StartMinimizedBox()->click();
                page->MinimizeOnCloseBox()->click();
                sheet->OkButton()->click();
            });
            QVERIFY(FindVisible<CPropertiesDialog>() == nullptr);
            QVERIFY(!main->IsPropertiesOpen());
            QCOMPARE(app.Settings().GetCornerPosition(), 2);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
        const std::string after = ReadFile(m_env->HivePath());
        QStringList gone = LinesNotIn(before, after), added = LinesNotIn(after, before);
        gone.sort();
        added.sort();
        QCOMPARE(gone, QStringList({"\"MinimizeOnClose\"=binary:00,00,00,00",
                                    "\"StartMinimized\"=binary:00,00,00,00"}));
        QCOMPARE(added, QStringList({"\"MinimizeOnClose\"=binary:01,00,00,00",
                                     "\"StartMinimized\"=binary:01,00,00,00"}));
    }

    void unlockingTheCornerAndApplyingFreesTheWindow() {
        Seed(3, {});
        RunClient([&](CMainDialog* main, CClientApp& app) {
            const QPoint locked = main->pos();
            main->move(7, 9);
            QCOMPARE(main->pos(), locked);  // locked to its corner
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                sheet->GeneralPage()->LockBox()->click();
                sheet->ApplyButton()->click();
                QVERIFY(sheet->isVisible());
                CSettings stored;
                stored.Load();
                QCOMPARE(stored.GetCornerPosition(), -1);
                sheet->CancelButton()->click();
            });
            QCOMPARE(app.Settings().GetCornerPosition(), -1);
            main->move(7, 9);
            QCOMPARE(main->pos(), QPoint(7, 9));
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    // The main window never opens the sheet for a guest; a sheet shown anyway applies nothing.
    void dynamicModeAppliesNothing() {
        CClientApp app;
        app.SetLaunchState(false, true, "5550002");
        vp::test::CQuietSessionWindow window;
        CSessionController session(app, window);
        int placed = 0;
        CPropertiesDialog sheet(app, session, [&] { ++placed; });
        sheet.show();
        sheet.GeneralPage()->StartMinimizedBox()->click();
        QCOMPARE(NoticeFrom(sheet.ApplyButton()), QString("The user's NTV is invalid"));
        QCOMPARE(NoticeFrom(sheet.OkButton()), QString("The user's NTV is invalid"));
        QVERIFY(sheet.isVisible());  // OK leaves it open
        QVERIFY(!app.Settings().GetStartMinimized());
        QCOMPARE(placed, 0);
        QVERIFY(!std::filesystem::exists(m_env->HivePath()));
        sheet.CancelButton()->click();
        QVERIFY(!sheet.isVisible());
    }

    void aNewDefaultAccountWithTheSessionDownLogsInToItsServer() {
        QTemporaryDir dir;
        CServer server(dir.path(), "127.0.0.221");
        QVERIFY(server.Started());
        // The stored account's server is not there: the session stays down.
        Seed(-1, {{"1001", "pw-1001", "127.0.0.220", 1}});
        RunClient([&](CMainDialog* main, CClientApp& app) {
            QCOMPARE(app.Settings().GetStatus(), 'D');
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                sheet->PageList()->setCurrentRow(CPropertiesDialog::ROW_CONNECTION);
                CConnectionPage* page = sheet->ConnectionPage();
                QCOMPARE(sheet->Pages()->currentWidget(), static_cast<QWidget*>(page));
                QCOMPARE(page->AccountList()->item(0)->text(), QString("1001@127.0.0.220"));
                QVERIFY(!page->ModifyButton()->isEnabled());
                QVERIFY(!page->ProxyHostEdit()->isEnabled());

                Answer<CAccountDialog>(
                    [&](CAccountDialog* account) {
                        QVERIFY(account->PasswordEdit()->echoMode() == QLineEdit::Password);
                        QCOMPARE(account->NtvEdit()->maxLength(), 15);
                        QCOMPARE(account->PasswordEdit()->maxLength(), 50);
                        account->NtvEdit()->setText("1001");
                        account->PasswordEdit()->setText("pw-1001");
                        account->ServerEdit()->setText("127.0.0.221");
                        Screenshot(account, "properties-account.png");
                        account->OkButton()->click();
                    },
                    [&] { page->AppendButton()->click(); });
                QCOMPARE(page->AccountList()->count(), 2);
                QCOMPARE(page->AccountList()->item(1)->text(), QString("1001@127.0.0.221"));

                // A double click selects the line and opens it for modifying.
                QListWidget* list = page->AccountList();
                const QPoint line = list->visualItemRect(list->item(1)).center();
                Answer<CAccountDialog>(
                    [&](CAccountDialog* account) {
                        QCOMPARE(account->ServerEdit()->text(), QString("127.0.0.221"));
                        account->CancelButton()->click();
                    },
                    [&] {
                        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, line);
                        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, line);
                    });
                QCOMPARE(page->Editor().Selected(), 1);
                QVERIFY(page->ActivateButton()->isEnabled());
                page->ActivateButton()->click();
                QCOMPARE(page->Editor().Accounts()[1].m_nDefault, 1);
                QCOMPARE(page->Editor().Accounts()[0].m_nDefault, 0);
                Screenshot(sheet, "properties-connection.png");
                sheet->OkButton()->click();
            });
            QCOMPARE(app.Settings().GetHost(), std::string("127.0.0.221"));
            QVERIFY(server.WaitForLog("login 1001 from"));
            QTRY_COMPARE_WITH_TIMEOUT(app.Settings().GetStatus(), 'C', 10000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    void aProxyEnteredIsUsedByTheNextConnection() {
        QTemporaryDir dir;
        CServer server(dir.path(), "127.0.0.223");
        QVERIFY(server.Started());
        // Its own connections leave from its address: the server's log tells who came through it.
        vp::test::CTinyProxy proxy("127.0.0.222", 0, "ana", "proxy-pw", true);
        QVERIFY(proxy.Ready());
        Seed(-1, {{"1001", "pw-1001", "127.0.0.223", 1}});
        RunClient([&](CMainDialog* main, CClientApp& app) {
            QVERIFY(server.WaitForLog("login 1001 from 127.0.0.1"));
            QTRY_COMPARE_WITH_TIMEOUT(app.Settings().GetStatus(), 'C', 10000);
            const int attempts = main->Session().ConnectionAttempts();
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                CConnectionPage* page = sheet->ConnectionPage();
                page->ProxyBox()->click();
                QVERIFY(page->ProxyHostEdit()->isEnabled());
                page->ProxyHostEdit()->setText("127.0.0.222");
                page->ProxyLoginEdit()->setText("ana");
                page->ProxyPasswordEdit()->setText("proxy-pw");
                // No port: refused, and the port field is where the user is taken.
                QCOMPARE(NoticeFrom(sheet->OkButton()),
                         QString("The proxy port must be a number from 1 to 65535"));
                QCOMPARE(sheet->Pages()->currentWidget(), static_cast<QWidget*>(page));
                QVERIFY(!app.Settings().GetProxy());
                page->ProxyPortEdit()->setText(QString::number(proxy.Port()));
                // Logged in: the connection stays up, and the next one uses the proxy.
                QCOMPARE(NoticeFrom(sheet->OkButton()),
                         QString("The new settings will be activated on next program start"));
            });
            QCOMPARE(main->Session().ConnectionAttempts(), attempts);
            QCOMPARE(app.Settings().GetStatus(), 'C');
            QVERIFY(app.Settings().GetProxy());
            QCOMPARE(app.Settings().GetProxyPort(), proxy.Port());

            // The sheet opens again with what was stored, the port shown.
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                CConnectionPage* page = sheet->ConnectionPage();
                QVERIFY(page->ProxyBox()->isChecked());
                QCOMPARE(page->ProxyPortEdit()->text(), QString::number(proxy.Port()));
                sheet->CancelButton()->click();
            });

            main->Session().Connect();  // as after a lost connection
            QVERIFY(server.WaitForLog("login 1001 from 127.0.0.222"));
            QTRY_COMPARE_WITH_TIMEOUT(app.Settings().GetStatus(), 'C', 10000);
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
    }

    // What the Audio page chooses is what the next call records from.
    void theAudioPageChoiceIsTheDeviceTheNextCallOpens() {
        QTemporaryDir dir;
        const QString address = "127.0.0.223";
        CServerProcess server(VP_SERVER_PROGRAM, (dir.path() + "/accounts.db").toStdString(),
                              address.toStdString(),
                              {{"1001", "pw-1001", "Ana Gil", {}}, {"1002", "pw-1002", "Bea", {}}});
        QVERIFY(server.Started());
        auto devices = std::make_shared<CRecordingWaves>();
        for (const char* mic : {"mic-a", "mic-b"})
            devices->AddSilenceCapture(mic, EWavePacing::RealTime);
        devices->AddWavFilePlayback("speaker", "", EWavePacing::RealTime);
        SetWaveBackends({devices});
        SetMixerBackends({});
        {
            CSettings s;
            s.SetUser("1001", "pw-1001");
            s.SetServer(address.toStdString(), 443);
            s.SetAudioIn("mic-a");
            s.SetAudioOut("speaker");
            QVERIFY(s.Save());
            QVERIFY(SaveAccounts({{"1001", "pw-1001", address.toStdString(), 1}}, s));
        }
        calltest::CCli bea(address.toStdString(), "1002", "pw-1002", {"--auto-answer"});
        QVERIFY(bea.WaitLine("state C"));
        RunClient([&](CMainDialog* main, CClientApp& app) {
            QTRY_COMPARE_WITH_TIMEOUT(app.Settings().GetStatus(), 'C', 15000);
            WithSheet(main, [&](CPropertiesDialog* sheet) {
                sheet->PageList()->setCurrentRow(CPropertiesDialog::ROW_AUDIO);
                auto* page = qobject_cast<CAudioPage*>(sheet->Pages()->currentWidget());
                QVERIFY(page != nullptr);
                QCOMPARE(page->InputList()->currentText(), QString("mic-a"));
                page->InputList()->setCurrentIndex(page->InputList()->findText("mic-b"));
                sheet->OkButton()->click();
            });
            QCOMPARE(app.Settings().GetAudioIn(), std::string("mic-b"));
            main->Call()->PlaceCall("1002");
            QTRY_VERIFY_WITH_TIMEOUT(!devices->Opened().empty(), 15000);
            QCOMPARE(devices->Opened(), std::vector<std::string>{"mic-b"});
            main->OnCommand(CMainDialog::ID_APP_EXIT);
        });
        SetWaveBackends({});
    }
};

QTEST_MAIN(PropertiesSheetTest)
#include "PropertiesSheetTest.moc"
