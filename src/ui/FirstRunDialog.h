// CFirstRunDialog (dialog 168): NTV, password and server of a first start. OK is taken only with all
// three filled; otherwise notice 137 appears and the dialog stays.
#pragma once

#include <string>

#include "ui/RoundedDialog.h"

class QLineEdit;
class QPushButton;

class CFirstRunDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 168 };
    explicit CFirstRunDialog(QWidget* parent = nullptr);

    std::string Ntv() const;
    std::string Password() const;
    std::string Server() const;

    QLineEdit* NtvEdit() const { return m_pNtv; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QLineEdit* ServerEdit() const { return m_pServer; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

public slots:
    void accept() override;

private:
    QLineEdit* m_pNtv;
    QLineEdit* m_pPassword;
    QLineEdit* m_pServer;
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
};
