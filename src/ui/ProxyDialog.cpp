#include "ui/ProxyDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/StringTable.h"
#include "settings/RegistryKey.h"
#include "ui/UiText.h"

namespace {

QLineEdit* Edit(QWidget* parent, const char* name, const std::string& text) {
    auto* e = new QLineEdit(QString::fromStdString(text), parent);
    e->setObjectName(name);
    e->setMaxLength(static_cast<int>(CRegistryKey::kMaxText) - 1);
    return e;
}

}  // namespace

CProxyDialog::CProxyDialog(const SProxyData& proxy, QWidget* parent) : CRoundedDialog(parent) {
    setWindowTitle(LoadText(IDS_PROXY_TITLE));
    setObjectName("proxy");
    auto* title = new QLabel(LoadText(IDS_PROXY_TITLE), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* intro = new QLabel(LoadText(IDS_PROXY_INTRO), this);
    intro->setWordWrap(true);

    m_pServer = Edit(this, "server", proxy.m_strHost);
    m_pPort = Edit(this, "port", proxy.m_nPort > 0 ? std::to_string(proxy.m_nPort) : std::string());
    m_pPort->setValidator(new QIntValidator(0, 65535, m_pPort));
    m_pUser = Edit(this, "user", proxy.m_strUser);
    m_pPassword = Edit(this, "password", proxy.m_strPassword);
    m_pPassword->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(LoadText(IDS_LABEL_SERVER), m_pServer);
    form->addRow(LoadText(IDS_LABEL_PORT), m_pPort);
    form->addRow(LoadText(IDS_LABEL_USER), m_pUser);
    form->addRow(LoadText(IDS_LABEL_PASSWORD), m_pPassword);

    auto* buttons = MakeButtonRow(m_pOk, &m_pCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->addWidget(title);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(320);
}

SProxyData CProxyDialog::Proxy() const {
    SProxyData p;
    p.m_strHost = m_pServer->text().trimmed().toStdString();
    p.m_nPort = m_pPort->text().toInt();
    p.m_strUser = m_pUser->text().toStdString();
    p.m_strPassword = m_pPassword->text().toStdString();
    return p;
}
