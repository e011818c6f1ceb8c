#include "ui/ContactDialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ContactsWindowModel.h"
#include "app/SessionController.h"
#include "net/Protocol.h"
#include "platform/StringTable.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

CContactDialog::CContactDialog(const std::string& ntv, const std::string& nickname, QWidget* parent,
                               bool ntvEditable)
    : CRoundedDialog(parent) {
    setObjectName("contactDialog");
    setWindowTitle(LoadText(IDS_CONTACT_DIALOG_TITLE));

    auto* title = new QLabel(LoadText(IDS_CONTACT_DIALOG_TITLE), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    title->setFont(big);

    m_pNtv = new QLineEdit(QString::fromStdString(FitUtf8(ntv, kNtvMax)), this);
    m_pNtv->setObjectName("ntv");
    m_pNtv->setMaxLength(static_cast<int>(kNtvMax));
    m_pNtv->setReadOnly(!ntvEditable);
    if (!ntvEditable)
        m_pNtv->setFocusPolicy(Qt::NoFocus);
    m_pNickname = new QLineEdit(QString::fromStdString(FitUtf8(nickname, kNameMax)), this);
    m_pNickname->setObjectName("nickname");
    m_pNickname->setMaxLength(static_cast<int>(kNameMax));
    m_pNickname->setMinimumWidth(220);
    connect(m_pNickname, &QLineEdit::textChanged, this, &CContactDialog::FitNickname);
    connect(m_pNtv, &QLineEdit::textChanged, this, &CContactDialog::UpdateOk);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(LoadText(IDS_CONTACT_NTV), m_pNtv);
    form->addRow(LoadText(IDS_CONTACT_NICKNAME), m_pNickname);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addLayout(MakeButtonRow(m_pOk, &m_pCancel));
    (ntvEditable && m_pNtv->text().isEmpty() ? m_pNtv : m_pNickname)->setFocus();
    UpdateOk();
}

std::string CContactDialog::Ntv() const {
    return FitUtf8(m_pNtv->text().trimmed().toStdString(), kNtvMax);
}

std::string CContactDialog::Nickname() const {
    return FitUtf8(m_pNickname->text().trimmed().toStdString(), kNameMax);
}

void CContactDialog::FitNickname() {
    // Letters beyond ASCII take more than one byte on the wire: the field stops where the bytes do.
    const QByteArray bytes = m_pNickname->text().toUtf8();
    if (static_cast<size_t>(bytes.size()) <= kNameMax)
        return;
    const int cursor = m_pNickname->cursorPosition();
    m_pNickname->setText(QString::fromStdString(FitUtf8(bytes.toStdString(), kNameMax)));
    m_pNickname->setCursorPosition(std::min(cursor, static_cast<int>(m_pNickname->text().size())));
}

void CContactDialog::UpdateOk() {
    // Without an NTV there is nothing to store.
    m_pOk->setEnabled(!m_pNtv->text().trimmed().isEmpty());
}

bool OfferNewContact(QWidget* parent, CSessionController& session, const std::string& ntv) {
    CContactDialog dialog(ntv, std::string(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    switch (AddNewContact(session, dialog.Ntv(), dialog.Nickname())) {
        case ENewContact::Added:
            return true;
        case ENewContact::Exists:
            CNoticeDialog::Ask(parent, IDS_CONTACT_EXISTS, true);
            return false;
        case ENewContact::EmptyNtv:
            break;
    }
    return false;
}
