#include "ui/FirstRunDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/StringTable.h"
#include "settings/RegistryKey.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

namespace {

std::string Trimmed(const QLineEdit* edit) {
    return edit->text().trimmed().toStdString();
}

}  // namespace

CFirstRunDialog::CFirstRunDialog(QWidget* parent) : CRoundedDialog(parent) {
    setWindowTitle(LoadText(IDS_FIRSTRUN_TITLE));
    setObjectName("firstRun");
    auto* title = new QLabel(LoadText(IDS_FIRSTRUN_TITLE), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    title->setFont(bold);
    auto* intro = new QLabel(LoadText(IDS_FIRSTRUN_INTRO), this);
    intro->setWordWrap(true);
    auto* hint = new QLabel(LoadText(IDS_FIRSTRUN_SERVER_HINT), this);
    hint->setWordWrap(true);

    // Longer texts could not be stored; an NTV has at most 15 characters.
    m_pNtv = new QLineEdit(this);
    m_pNtv->setObjectName("ntv");
    m_pNtv->setMaxLength(15);
    m_pPassword = new QLineEdit(this);
    m_pPassword->setObjectName("password");
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pPassword->setMaxLength(static_cast<int>(CRegistryKey::kMaxText) - 1);
    m_pServer = new QLineEdit(this);
    m_pServer->setObjectName("server");
    m_pServer->setMaxLength(static_cast<int>(CRegistryKey::kMaxText) - 1);

    auto* form = new QFormLayout;
    form->addRow(LoadText(IDS_LABEL_NTV), m_pNtv);
    form->addRow(LoadText(IDS_LABEL_PASSWORD), m_pPassword);
    auto* serverForm = new QFormLayout;
    serverForm->addRow(LoadText(IDS_LABEL_SERVER), m_pServer);

    auto* buttons = MakeButtonRow(m_pOk, &m_pCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->addWidget(title);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addLayout(serverForm);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(340);
}

std::string CFirstRunDialog::Ntv() const {
    return Trimmed(m_pNtv);
}
// A password is taken as typed: blanks may belong to it.
std::string CFirstRunDialog::Password() const {
    return m_pPassword->text().toStdString();
}
std::string CFirstRunDialog::Server() const {
    return Trimmed(m_pServer);
}

void CFirstRunDialog::accept() {
    if (Ntv().empty() || Password().empty() || Server().empty()) {
        CNoticeDialog::Ask(this, IDS_FIELD_NOT_FILLED, true);
        return;
    }
    QDialog::accept();
}
