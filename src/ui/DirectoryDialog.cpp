#include "ui/DirectoryDialog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSizeGrip>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <utility>

#include "app/CountryTable.h"
#include "platform/StringTable.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

namespace {

// A page that asks before every navigation.
class CDirectoryPage : public QWebEnginePage {
public:
    using Decide = std::function<bool(const QUrl&, bool bTyped, bool bMainFrame)>;
    CDirectoryPage(Decide decide, QObject* parent) : QWebEnginePage(parent), m_fnDecide(std::move(decide)) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        return m_fnDecide(url, type == NavigationTypeTyped, isMainFrame);
    }

private:
    Decide m_fnDecide;
};

std::string UrlText(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded).toStdString();
}

QComboBox* Combo(QWidget* parent, const char* name) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setMaxVisibleItems(20);
    return c;
}

QLineEdit* Edit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMinimumWidth(140);
    return e;
}

}  // namespace

CDirectoryDialog::CDirectoryDialog(const std::string& directoryUrl, SDirectoryActions actions,
                                   QWidget* parent)
    : CRoundedDialog(parent), m_strDirectoryUrl(directoryUrl), m_Actions(std::move(actions)) {
    setWindowTitle(LoadText(IDS_DIRECTORY_TITLE));
    setObjectName("directory");
    if (!m_strDirectoryUrl.empty())
        m_strDirectoryPrefix = UrlText(QUrl(QString::fromStdString(m_strDirectoryUrl)));

    auto* title = new QLabel(LoadText(IDS_DIRECTORY_TITLE), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);

    m_pCountry = Combo(this, "country");
    // The longest names would take the row from City and Keywords; the list itself shows them whole.
    m_pCountry->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pCountry->setMinimumContentsLength(22);
    m_pCountry->addItem(LoadText(IDS_ALL_COUNTRIES));
    for (const SCountry& c : CountryTable())
        m_pCountry->addItem(QString::fromUtf8(c.m_szName));
    m_pCity = Edit(this, "city");
    m_pGenre = Combo(this, "genre");
    for (const char* item : kGenderItems)
        m_pGenre->addItem(QString::fromUtf8(item));
    m_pLanguage = Combo(this, "language");
    for (const char* item : kLanguageItems)
        m_pLanguage->addItem(QString::fromUtf8(item));
    m_pKeywords = Edit(this, "keywords");

    m_pSearch = new QPushButton(LoadText(IDS_DIRECTORY_SEARCH), this);
    m_pSearch->setObjectName("search");
    m_pSearch->setDefault(true);
    m_pSearch->setEnabled(!m_strDirectoryUrl.empty());
    connect(m_pSearch, &QPushButton::clicked, this, &CDirectoryDialog::Search);
    m_pReset = new QPushButton(LoadText(IDS_DIRECTORY_RESET), this);
    m_pReset->setObjectName("reset");
    m_pReset->setAutoDefault(false);
    connect(m_pReset, &QPushButton::clicked, this, &CDirectoryDialog::Reset);

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->addWidget(new QLabel(LoadText(IDS_DIRECTORY_COUNTRY), this), 0, 0);
    fields->addWidget(m_pCountry, 0, 1);
    fields->addWidget(new QLabel(LoadText(IDS_DIRECTORY_CITY), this), 0, 2);
    fields->addWidget(m_pCity, 0, 3);
    fields->addWidget(new QLabel(LoadText(IDS_DIRECTORY_KEYWORDS), this), 0, 4);
    fields->addWidget(m_pKeywords, 0, 5);
    fields->addWidget(m_pSearch, 0, 6);
    fields->addWidget(new QLabel(LoadText(IDS_DIRECTORY_GENRE), this), 1, 0);
    fields->addWidget(m_pGenre, 1, 1);
    fields->addWidget(new QLabel(LoadText(IDS_DIRECTORY_LANGUAGE), this), 1, 2);
    fields->addWidget(m_pLanguage, 1, 3);
    fields->addWidget(m_pReset, 1, 6);
    fields->setColumnStretch(3, 1);
    fields->setColumnStretch(5, 1);

    m_pBrowser = new QWebEngineView(this);
    m_pBrowser->setObjectName("browser");
    auto* page = new CDirectoryPage([this](const QUrl& url, bool bTyped,
                                           bool bMainFrame) { return OnNavigation(url, bTyped, bMainFrame); },
                                    m_pBrowser);
    // The directory answers in the program's language.
    page->profile()->setHttpAcceptLanguage(GetStringLanguage() == LANG_SPANISH ? "es" : "en");
    m_pBrowser->setPage(page);

    m_pHint = new QLabel(LoadText(IDS_DIRECTORY_NO_ADDRESS), this);
    m_pHint->setObjectName("hint");
    m_pHint->setVisible(m_strDirectoryUrl.empty());
    m_pClose = new QPushButton(LoadText(IDS_CLOSE), this);
    m_pClose->setObjectName("close");
    m_pClose->setAutoDefault(false);
    connect(m_pClose, &QPushButton::clicked, this, &QDialog::reject);
    // Without a window frame, the corner grip is how the page gets more room.
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pHint);
    bottom->addStretch();
    bottom->addWidget(m_pClose);
    bottom->addWidget(new QSizeGrip(this), 0, Qt::AlignBottom | Qt::AlignRight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 8, 8);
    layout->addWidget(title);
    layout->addLayout(fields);
    layout->addWidget(m_pBrowser, 1);
    layout->addLayout(bottom);
    setMinimumSize(640, 420);
    resize(900, 640);

    if (m_strDirectoryUrl.empty())
        m_pBrowser->setUrl(QUrl("about:blank"));
    else
        m_pBrowser->setUrl(QUrl(QString::fromStdString(m_strDirectoryUrl + BuildDirectoryQuery({}))));
}

SDirectorySearch CDirectoryDialog::Fields() const {
    SDirectorySearch s;
    s.m_nCountry = m_pCountry->currentIndex();
    s.m_strCity = m_pCity->text().toStdString();
    s.m_nGender = m_pGenre->currentIndex();
    s.m_nLanguage = m_pLanguage->currentIndex();
    s.m_strKeywords = m_pKeywords->text().toStdString();
    return s;
}

void CDirectoryDialog::Search() {
    if (m_strDirectoryUrl.empty())
        return;
    m_pBrowser->setUrl(QUrl(QString::fromStdString(m_strDirectoryUrl + BuildDirectoryQuery(Fields()))));
}

void CDirectoryDialog::Reset() {
    m_pCountry->setCurrentIndex(0);
    m_pGenre->setCurrentIndex(0);
    m_pLanguage->setCurrentIndex(0);
    m_pCity->clear();
    m_pKeywords->clear();
}

bool CDirectoryDialog::OnNavigation(const QUrl& url, bool bTyped, bool bMainFrame) {
    // The dialog's own loads are no links, whatever the typed fields hold ("callto=" in a keyword).
    if (bTyped)
        return true;
    SDirectoryLink link = ClassifyDirectoryLink(UrlText(url), m_strDirectoryPrefix);
    if (link.m_eAction == EDirectoryLink::Follow)
        return true;
    // A frame inside the page acts on nothing by itself; it only stays out of other sites.
    if (!bMainFrame)
        return false;
    // Notices and calls open windows with loops of their own: not from inside the browser's call.
    QMetaObject::invokeMethod(
        this, [this, link, url] { Act(link, url); }, Qt::QueuedConnection);
    return false;
}

void CDirectoryDialog::Act(const SDirectoryLink& link, const QUrl& url) {
    if (!isVisible() || m_bAsking)
        return;
    switch (link.m_eAction) {
        case EDirectoryLink::Call:
            done(QDialog::Accepted);
            if (!link.m_strNtv.empty() && m_Actions.placeCall)
                m_Actions.placeCall(link.m_strNtv);
            break;
        case EDirectoryLink::AddContact:
            OfferContact(link.m_strNtv);
            break;
        case EDirectoryLink::External:
            QDesktopServices::openUrl(url);
            break;
        case EDirectoryLink::Follow:
        case EDirectoryLink::Refuse:
            break;
    }
}

void CDirectoryDialog::OfferContact(const std::string& ntv) {
    m_bAsking = true;
    CNoticeDialog notice(QString::fromStdString(FormatString(IDS_ADD_CONTACT, {ntv})), false, this);
    notice.setObjectName("addContact");
    bool accepted = notice.exec() == QDialog::Accepted;
    m_bAsking = false;
    if (accepted && m_Actions.offerContact)
        m_Actions.offerContact(ntv);
}
