#include "ui/PropertiesDialog.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "net/Protocol.h"
#include "platform/StringTable.h"
#include "ui/AudioPage.h"
#include "ui/ConnectionPage.h"
#include "ui/GeneralPage.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"
#include "ui/VideoPage.h"

CPropertiesDialog::CPropertiesDialog(CClientApp& app, CSessionController& session,
                                     std::function<void()> placeByCorner, QWidget* parent)
    : CRoundedDialog(parent), m_app(app), m_session(session), m_placeByCorner(std::move(placeByCorner)) {
    setObjectName("properties");
    setWindowTitle(LoadText(IDS_PROP_TITLE));
    setWindowIcon(QIcon(":/icons/settings.svg"));

    auto* title = new QLabel(LoadText(IDS_PROP_TITLE), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);

    m_pList = new QListWidget(this);
    m_pList->setObjectName("pageList");
    m_pList->setIconSize(QSize(32, 32));
    m_pList->setSpacing(2);
    m_pList->setFixedWidth(128);
    m_pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const struct {
        UINT text;
        const char* icon;
    } rows[ROW_COUNT] = {{IDS_PROP_ROW_GENERAL, ":/icons/general.svg"},
                         {IDS_PROP_ROW_CONNECTION, ":/icons/connection.svg"},
                         {IDS_PROP_ROW_AUDIO, ":/icons/audio.svg"},
                         {IDS_PROP_ROW_VIDEO, ":/icons/video.svg"}};
    for (const auto& row : rows)
        new QListWidgetItem(QIcon(QString::fromLatin1(row.icon)), LoadText(row.text), m_pList);

    m_pStack = new QStackedWidget(this);
    m_pStack->setObjectName("pages");
    m_pGeneral = new CGeneralPage(app, m_pStack);
    m_pConnection = new CConnectionPage(app, m_pStack);
    m_pages[ROW_GENERAL] = PropertiesPage(m_pGeneral);
    m_pages[ROW_CONNECTION] = PropertiesPage(m_pConnection);
    m_pages[ROW_AUDIO] = PropertiesPage(new CAudioPage(app, m_pStack));
    m_pages[ROW_VIDEO] = PropertiesPage(new CVideoPage(app, m_pStack));
    for (const SPropertiesPage& page : m_pages)
        m_pStack->addWidget(page.m_pWidget);

    m_pVersion = new QLabel(FormatString(IDS_PROP_VERSION, {DottedVersion(kClientVersion)}).c_str(), this);
    m_pVersion->setObjectName("version");
    m_pVersion->setEnabled(false);  // greyed: information, not a control

    m_pOk = new QPushButton(LoadText(IDS_BUTTON_OK), this);
    m_pOk->setObjectName("ok");
    m_pOk->setDefault(true);
    m_pApply = new QPushButton(LoadText(IDS_PROP_APPLY), this);
    m_pApply->setObjectName("apply");
    m_pApply->setAutoDefault(false);
    m_pCancel = new QPushButton(LoadText(IDS_BUTTON_CANCEL), this);
    m_pCancel->setObjectName("cancel");
    m_pCancel->setAutoDefault(false);
    connect(m_pOk, &QPushButton::clicked, this, &CPropertiesDialog::accept);
    connect(m_pApply, &QPushButton::clicked, this, [this] { Apply(); });
    connect(m_pCancel, &QPushButton::clicked, this, &CPropertiesDialog::reject);

    auto* body = new QHBoxLayout;
    body->setSpacing(12);
    body->addWidget(m_pList);
    body->addWidget(m_pStack, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pVersion);
    bottom->addStretch();
    bottom->addWidget(m_pOk);
    bottom->addWidget(m_pApply);
    bottom->addWidget(m_pCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addLayout(body, 1);
    layout->addLayout(bottom);
    setMinimumSize(560, 420);

    connect(m_pList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            m_pStack->setCurrentIndex(row);
    });
    ShowPage(ROW_GENERAL);
}

CPropertiesDialog::~CPropertiesDialog() {
    StopPages();
}

void CPropertiesDialog::ShowPage(int row) {
    m_pList->setCurrentRow(row);
    m_pStack->setCurrentIndex(row);
}

SApplyReport CPropertiesDialog::Apply() {
    SPropertiesValues values = PropertiesValuesOf(m_app.Settings(), m_app.Accounts());
    for (const SPropertiesPage& page :
         {m_pages[ROW_VIDEO], m_pages[ROW_AUDIO], m_pages[ROW_GENERAL], m_pages[ROW_CONNECTION]})
        page.m_store(values);
    SApplyReport report = ApplyProperties(m_app, values, *this);
    if (report.m_result == EApplyResult::BadProxyPort) {
        ShowPage(ROW_CONNECTION);
        m_pConnection->ProxyPortEdit()->setFocus();
        m_pConnection->ProxyPortEdit()->selectAll();
    }
    return report;
}

void CPropertiesDialog::accept() {
    if (Apply().m_result != EApplyResult::Applied)
        return;  // what went wrong was told; the sheet stays for the user to mend or cancel
    StopPages();
    CRoundedDialog::accept();
}

void CPropertiesDialog::reject() {
    StopPages();
    CRoundedDialog::reject();
}

void CPropertiesDialog::StopPages() {
    if (m_bStopped)
        return;
    m_bStopped = true;
    for (const SPropertiesPage& page : m_pages)
        if (page.m_stop)
            page.m_stop();
}

void CPropertiesDialog::ShowNotice(UINT id) {
    CNoticeDialog::Ask(this, id, true);
}

void CPropertiesDialog::PlaceByCorner() {
    if (m_placeByCorner)
        m_placeByCorner();
}

char CPropertiesDialog::SessionState() const {
    return m_session.State();
}

void CPropertiesDialog::Connect() {
    m_session.Connect();
}
