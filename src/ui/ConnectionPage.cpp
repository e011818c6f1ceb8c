#include "ui/ConnectionPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/ClientApp.h"
#include "app/PropertiesApply.h"
#include "platform/StringTable.h"
#include "settings/RegistryKey.h"
#include "ui/AccountDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

namespace {

constexpr int kIcon = 20;

// A person; the default account's in colour with a check mark, the others in grey.
QIcon AccountIcon(bool isDefault) {
    const qreal ratio = 2.0;
    QPixmap pm(QSize(kIcon, kIcon) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A white rim keeps the person apart from a selected line's blue.
    p.setPen(QPen(Qt::white, 1.0));
    p.setBrush(isDefault ? QColor(0x1f, 0x6f, 0xb2) : QColor(0xa8, 0xa8, 0xa8));
    p.drawEllipse(QRectF(5, 2, 8, 8));
    QPainterPath body;
    body.moveTo(1.5, 19);
    body.cubicTo(1.5, 13, 5, 11, 9, 11);
    body.cubicTo(13, 11, 16.5, 13, 16.5, 19);
    body.closeSubpath();
    p.drawPath(body);
    if (isDefault) {
        p.setBrush(QColor(0x2e, 0x9e, 0x4f));
        p.setPen(QPen(Qt::white, 1.2));
        p.drawEllipse(QRectF(11, 10.5, 8.5, 8.5));
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(13.1, 14.8), QPointF(14.7, 16.4), QPointF(17.5, 13.1)}));
    }
    return QIcon(pm);
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& text) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(static_cast<int>(CRegistryKey::kMaxText) - 1);
    e->setText(text);
    return e;
}

QPushButton* Button(QWidget* parent, UINT textId, const char* name) {
    auto* b = new QPushButton(LoadText(textId), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

CConnectionPage::CConnectionPage(CClientApp& app, QWidget* parent)
    : QWidget(parent), m_Editor(app.Accounts()) {
    setObjectName("connectionPage");
    const CSettings& s = app.Settings();

    auto* proxy = new QGroupBox(LoadText(IDS_CONN_PROXY_GROUP), this);
    m_pProxy = new QCheckBox(LoadText(IDS_CONN_PROXY_ACTIVATE), proxy);
    m_pProxy->setObjectName("proxyActivate");
    m_pProxy->setChecked(s.GetProxy());
    m_pHost = Edit(proxy, "proxyHost", QString::fromStdString(s.GetProxyHost()));
    m_pPort = Edit(proxy, "proxyPort", s.GetProxyPort() > 0 ? QString::number(s.GetProxyPort()) : QString());
    m_pPort->setMaxLength(5);
    m_pPort->setMaximumWidth(70);
    m_pLogin = Edit(proxy, "proxyLogin", QString::fromStdString(s.GetProxyLogin()));
    m_pPassword = Edit(proxy, "proxyPassword", QString::fromStdString(s.GetProxyPassword()));
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pDomain = Edit(proxy, "proxyDomain", QString::fromStdString(s.GetProxyDomain()));

    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(m_pHost, 1);
    hostRow->addSpacing(8);
    hostRow->addWidget(new QLabel(LoadText(IDS_LABEL_PORT), proxy));
    hostRow->addWidget(m_pPort);
    auto* form = new QFormLayout;
    form->addRow(LoadText(IDS_CONN_PROXY), hostRow);
    form->addRow(LoadText(IDS_CONN_LOGIN), m_pLogin);
    form->addRow(LoadText(IDS_LABEL_PASSWORD), m_pPassword);
    form->addRow(LoadText(IDS_CONN_DOMAIN), m_pDomain);
    auto* proxyLayout = new QVBoxLayout(proxy);
    proxyLayout->addWidget(m_pProxy);
    proxyLayout->addLayout(form);

    auto* accounts = new QGroupBox(LoadText(IDS_CONN_ACCOUNTS), this);
    m_pList = new QListWidget(accounts);
    m_pList->setObjectName("accounts");
    m_pList->setIconSize(QSize(kIcon, kIcon));
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pAppend = Button(accounts, IDS_CONN_APPEND, "append");
    m_pModify = Button(accounts, IDS_CONN_MODIFY, "modify");
    m_pDelete = Button(accounts, IDS_CONN_DELETE, "delete");
    m_pActivate = Button(accounts, IDS_CONN_ACTIVATE, "activate");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_pAppend, m_pModify, m_pDelete, m_pActivate})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* accountsLayout = new QHBoxLayout(accounts);
    accountsLayout->addWidget(m_pList, 1);
    accountsLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(proxy);
    layout->addWidget(accounts, 1);

    EnableProxyFields(m_pProxy->isChecked());
    ShowAccounts();

    connect(m_pProxy, &QCheckBox::toggled, this, &CConnectionPage::EnableProxyFields);
    connect(m_pList, &QListWidget::currentRowChanged, this, &CConnectionPage::OnRowChosen);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        OnRowChosen(m_pList->row(item));
        Modify();
    });
    connect(m_pAppend, &QPushButton::clicked, this, &CConnectionPage::Append);
    connect(m_pModify, &QPushButton::clicked, this, &CConnectionPage::Modify);
    connect(m_pDelete, &QPushButton::clicked, this, &CConnectionPage::Delete);
    connect(m_pActivate, &QPushButton::clicked, this, &CConnectionPage::Activate);
}

void CConnectionPage::EnableProxyFields(bool on) {
    for (QLineEdit* e : {m_pHost, m_pPort, m_pLogin, m_pPassword, m_pDomain})
        e->setEnabled(on);
}

void CConnectionPage::ShowAccounts() {
    const QSignalBlocker quiet(m_pList);
    m_pList->clear();
    const QIcon defaultIcon = AccountIcon(true), otherIcon = AccountIcon(false);
    for (const Account& a : m_Editor.Accounts()) {
        auto* item = new QListWidgetItem(a.m_nDefault == 1 ? defaultIcon : otherIcon,
                                         QString::fromStdString(a.m_strNtv + "@" + a.m_strServer), m_pList);
        if (a.m_nDefault == 1)
            item->setToolTip(LoadText(IDS_CONN_DEFAULT_ACCOUNT));
    }
    m_pList->setCurrentRow(m_Editor.Selected());
    const bool selected = m_Editor.HasSelection();
    for (QPushButton* b : {m_pModify, m_pDelete, m_pActivate})
        b->setEnabled(selected);
}

void CConnectionPage::OnRowChosen(int row) {
    m_Editor.Select(row);
    for (QPushButton* b : {m_pModify, m_pDelete, m_pActivate})
        b->setEnabled(m_Editor.HasSelection());
}

void CConnectionPage::Append() {
    CAccountDialog dialog(Account{}, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (m_Editor.Append(dialog.Result()) == CAccountsEditor::EResult::AlreadyListed) {
        CNoticeDialog::Ask(this, IDS_CONNECTION_EXISTS, true);
        return;
    }
    ShowAccounts();
}

void CConnectionPage::Modify() {
    if (!m_Editor.HasSelection())
        return;
    CAccountDialog dialog(m_Editor.Accounts()[static_cast<size_t>(m_Editor.Selected())], this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const Account a = dialog.Result();
    if (m_Editor.Modify(a.m_strNtv, a.m_strPassword, a.m_strServer) ==
        CAccountsEditor::EResult::AlreadyListed) {
        CNoticeDialog::Ask(this, IDS_CONNECTION_EXISTS, true);
        return;
    }
    ShowAccounts();
}

void CConnectionPage::Delete() {
    if (m_Editor.Delete() == CAccountsEditor::EResult::Done)
        ShowAccounts();
}

void CConnectionPage::Activate() {
    if (m_Editor.Activate() == CAccountsEditor::EResult::Done)
        ShowAccounts();
}

void CConnectionPage::Store(SPropertiesValues& v) const {
    v.m_bProxy = m_pProxy->isChecked();
    v.m_strProxyHost = m_pHost->text().trimmed().toStdString();
    v.m_nProxyPort = ParseProxyPort(m_pPort->text().toStdString());
    v.m_strProxyLogin = m_pLogin->text().toStdString();
    v.m_strProxyPassword = m_pPassword->text().toStdString();
    v.m_strProxyDomain = m_pDomain->text().trimmed().toStdString();
    v.m_Accounts = m_Editor.Accounts();
}
