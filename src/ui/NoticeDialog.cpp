#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CNoticeDialog::CNoticeDialog(const QString& text, bool okOnly, QWidget* parent) : CRoundedDialog(parent) {
    setWindowTitle(LoadText(IDS_APP_NAME));
    setObjectName("notice");
    m_pText = new QLabel(text, this);
    m_pText->setWordWrap(true);
    m_pText->setMinimumWidth(260);
    m_pText->setAlignment(Qt::AlignCenter);
    m_pText->setTextFormat(Qt::PlainText);

    auto* buttons = MakeButtonRow(m_pOk, okOnly ? nullptr : &m_pCancel, true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addWidget(m_pText);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

CNoticeDialog::CNoticeDialog(UINT id, bool okOnly, QWidget* parent)
    : CNoticeDialog(LoadText(id), okOnly, parent) {}

bool CNoticeDialog::Ask(QWidget* parent, UINT id, bool okOnly) {
    CNoticeDialog notice(id, okOnly, parent);
    return notice.exec() == QDialog::Accepted;
}

QString CNoticeDialog::Text() const {
    return m_pText->text();
}
