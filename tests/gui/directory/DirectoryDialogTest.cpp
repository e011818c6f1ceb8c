// The directory dialog over a real velaphond's directory: the search reaches the server as typed, and the
// links of the result page, clicked inside the page, call and offer contacts.
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <string>
#include <vector>

#include "gui/directory/DirectorySupport.h"
#include "gui/support/OffscreenClient.h"
#include "gui/support/Screenshot.h"
#include "platform/StringTable.h"
#include "server/AccountStore.h"
#include "support/Process.h"
#include "ui/DirectoryDialog.h"
#include "ui/NoticeDialog.h"

namespace {

const char* kAddress = "127.0.0.210";

const std::vector<dirtest::SProfiled> kUsers = {
    {"1001", "Ana Gil", "ES", "Santa Cruz", "F", "ES", "ajedrez cine"},
    {"1002", "Bea Ruiz", "ES", "Madrid", "F", "ES", "ajedrez"},
    {"1003", "Carl Hill", "UK", "Santa Cruz", "M", "EN", "ajedrez"},
    {"1004", "Dora Paz", "ES", "Santa", "F", "ES", "ajedrez"}};

using dirtest::ListedNtvs;
using dirtest::RunJs;

class CUrlRecorder : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { urls << url; }

public:
    QList<QUrl> urls;
};

// Answers the next add-contact notice with OK or Cancel, keeping its text.
void AnswerNotice(bool ok, QString& text) {
    QTimer* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, ok, &text] {
        if (auto* n = guitest::FindVisible<CNoticeDialog>("addContact")) {
            text = n->Text();
            (ok ? n->OkButton() : n->CancelButton())->click();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

}  // namespace

class DirectoryDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { SetStringLanguage(LANG_ENGLISH_US); }

    void withoutAddressNothingIsSearched() {
        CDirectoryDialog d("", {});
        d.show();
        guitest::Screenshot(&d, "directory-dialog-no-address.png");
        QCOMPARE(d.Browser()->url(), QUrl("about:blank"));
        QVERIFY(!d.SearchButton()->isEnabled());
        QCOMPARE(d.CountryBox()->count(), 235);
        QCOMPARE(d.CountryBox()->itemText(0), QString("--- All countries ---"));
        QCOMPARE(d.CountryBox()->itemText(65), QString("ESPAÑA"));
        QCOMPARE(d.GenreBox()->itemText(2), QString("Femenino"));
        QCOMPARE(d.LanguageBox()->itemText(1), QString("Español"));
        d.CountryBox()->setCurrentIndex(3);
        d.GenreBox()->setCurrentIndex(1);
        d.LanguageBox()->setCurrentIndex(2);
        d.CityEdit()->setText("Lima");
        d.KeywordsEdit()->setText("cine");
        QTest::mouseClick(d.ResetButton(), Qt::LeftButton);
        QCOMPARE(d.Fields().m_nCountry + d.Fields().m_nGender + d.Fields().m_nLanguage, 0);
        QVERIFY(d.CityEdit()->text().isEmpty() && d.KeywordsEdit()->text().isEmpty());
    }

    void searchAndLinksAgainstVelaphond() {
        vp::test::CTempDir dir;
        vp::test::CChildProcess server;
        const std::string url = dirtest::StartServer(server, dir.File("users.db"), kAddress, kUsers);
        QVERIFY(!url.empty());

        std::vector<std::string> called, offered;
        CDirectoryDialog d(url, {[&](const std::string& ntv) { called.push_back(ntv); },
                                 [&](const std::string& ntv) { offered.push_back(ntv); }});
        d.show();
        QWebEnginePage* page = d.Browser()->page();
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        // Opening asks for everyone.
        QVERIFY(loaded.wait(20000));
        QCOMPARE(d.Browser()->url().toString(),
                 QString::fromStdString(url + "?soft=1&Pais=&Ciudad=&Sexo=&Idioma=&Pal_Clave="));
        QCOMPARE(ListedNtvs(page), QString("1001,1002,1003,1004"));

        // The dialog's own search is no link, even when a field holds a link's mark.
        d.KeywordsEdit()->setText("callto=1002");
        QTest::mouseClick(d.SearchButton(), Qt::LeftButton);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(ListedNtvs(page), QString(""));
        QVERIFY(d.isVisible());
        QVERIFY(called.empty());

        // Spain, a city with a space and a keyword: the server reads the city whole.
        d.CountryBox()->setCurrentIndex(65);
        d.CityEdit()->setText("Santa Cruz");
        d.KeywordsEdit()->setText("ajedrez");
        QTest::mouseClick(d.SearchButton(), Qt::LeftButton);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(ListedNtvs(page), QString("1001"));
        QCOMPARE(RunJs(page, "document.querySelector('input[name=Ciudad]').value").toString(),
                 QString("Santa Cruz"));
        QCOMPARE(RunJs(page, "document.querySelector('input[name=Pais]').value").toString(), QString("ES"));
        guitest::Screenshot(&d, "directory-dialog.png");

        // The add link asks first; only an agreed offer reaches the contacts.
        QString notice;
        AnswerNotice(false, notice);
        RunJs(page, "document.querySelector('a[href*=addntv]').click()");
        QTRY_COMPARE_WITH_TIMEOUT(notice, QString("Do tou want add 1001 as new contact?"), 10000);
        notice.clear();
        AnswerNotice(true, notice);
        RunJs(page, "document.querySelector('a[href*=addntv]').click()");
        QTRY_COMPARE_WITH_TIMEOUT(offered.size(), size_t(1), 10000);
        QCOMPARE(offered[0], std::string("1001"));
        QVERIFY(d.isVisible());

        // A page leading elsewhere goes to the system's browser, not into the dialog.
        CUrlRecorder browser;
        QDesktopServices::setUrlHandler("http", &browser, "Open");
        RunJs(page, "location.href = 'http://127.0.0.211:9/elsewhere?from=directory'");
        QTRY_COMPARE_WITH_TIMEOUT(browser.urls.size(), 1, 10000);
        QCOMPARE(browser.urls[0].toString(), QString("http://127.0.0.211:9/elsewhere?from=directory"));
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(ListedNtvs(page), QString("1001"));

        // The call link calls and closes the directory.
        RunJs(page, "document.querySelector('a[href*=callto]').click()");
        QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 10000);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(called, std::vector<std::string>{"1001"});
        QCOMPARE(offered.size(), size_t(1));
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    guitest::UseQtEnvironment();
    QApplication app(argc, argv);
    DirectoryDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DirectoryDialogTest.moc"
