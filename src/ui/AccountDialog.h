// CAccountDialog (dialog 167, "Account settings"): the NTV, password and server of one account. OK needs
// all three.
#pragma once

#include "settings/Accounts.h"
#include "ui/RoundedDialog.h"

class QLineEdit;
class QPushButton;

class CAccountDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 167, IDC_NTV = 1038, IDC_PASSWORD = 1024, IDC_SERVER = 1025 };
    static constexpr int kMaxNtv = 15;
    static constexpr int kMaxPassword = 50;

    explicit CAccountDialog(const Account& account, QWidget* parent = nullptr);

    // The fields, with the default flag of the account it was opened with.
    Account Result() const;

    QLineEdit* NtvEdit() const { return m_pNtv; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QLineEdit* ServerEdit() const { return m_pServer; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

    void accept() override;

private:
    int m_nDefault;
    QLineEdit* m_pNtv;
    QLineEdit* m_pPassword;
    QLineEdit* m_pServer;
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
};
