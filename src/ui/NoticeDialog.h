// CNoticeDialog (dialog 166): a message of the string table with OK and, unless the caller asks for OK
// only, Cancel.
#pragma once

#include <QString>

#include "platform/StringTable.h"
#include "ui/RoundedDialog.h"

class QLabel;
class QPushButton;

class CNoticeDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 166 };
    CNoticeDialog(const QString& text, bool okOnly, QWidget* parent = nullptr);
    CNoticeDialog(UINT id, bool okOnly, QWidget* parent = nullptr);

    // Shows the notice modally; true for OK.
    static bool Ask(QWidget* parent, UINT id, bool okOnly);

    QString Text() const;
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

private:
    QLabel* m_pText;
    QPushButton* m_pOk;
    QPushButton* m_pCancel = nullptr;
};
