#include "ui/AccountDialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/StringTable.h"
#include "settings/RegistryKey.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

namespace {

QLineEdit* Edit(QWidget* parent, const char* name, const std::string& text, int maxLength) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(maxLength);
    e->setText(QString::fromStdString(text));
    return e;
}

}  // namespace

CAccountDialog::CAccountDialog(const Account& account, QWidget* parent)
    : CRoundedDialog(parent), m_nDefault(account.m_nDefault) {
    setWindowTitle(LoadText(IDS_ACCOUNT_TITLE));
    setObjectName("account");
    auto* title = new QLabel(LoadText(IDS_ACCOUNT_TITLE), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);

    // Not "ntv": the main window's style names that, and this dialog sits below the main window.
    m_pNtv = Edit(this, "accountNtv", account.m_strNtv, kMaxNtv);
    m_pPassword = Edit(this, "accountPassword", account.m_strPassword, kMaxPassword);
    m_pPassword->setEchoMode(QLineEdit::Password);
    // A longer host name could not be stored.
    m_pServer =
        Edit(this, "accountServer", account.m_strServer, static_cast<int>(CRegistryKey::kMaxText) - 1);

    auto* form = new QFormLayout;
    form->addRow(LoadText(IDS_LABEL_NTV), m_pNtv);
    form->addRow(LoadText(IDS_LABEL_PASSWORD), m_pPassword);
    form->addRow(LoadText(IDS_LABEL_SERVER), m_pServer);

    auto* buttons = MakeButtonRow(m_pOk, &m_pCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(320);
}

Account CAccountDialog::Result() const {
    Account a;
    a.m_strNtv = m_pNtv->text().trimmed().toStdString();
    // Blanks may belong to a password.
    a.m_strPassword = m_pPassword->text().toStdString();
    a.m_strServer = m_pServer->text().trimmed().toStdString();
    a.m_nDefault = m_nDefault;
    return a;
}

void CAccountDialog::accept() {
    // An account with an empty field is dropped when the list is next read; it is never stored.
    if (!Result().IsValid()) {
        CNoticeDialog::Ask(this, IDS_FIELD_NOT_FILLED, true);
        return;
    }
    QDialog::accept();
}
