// CProxyDialog (dialog 169): the proxy a dynamic-mode client found, with the user's name and password.
#pragma once

#include "app/StartupText.h"
#include "ui/RoundedDialog.h"

class QLineEdit;
class QPushButton;

class CProxyDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 169 };
    explicit CProxyDialog(const SProxyData& proxy, QWidget* parent = nullptr);

    SProxyData Proxy() const;

    QLineEdit* ServerEdit() const { return m_pServer; }
    QLineEdit* PortEdit() const { return m_pPort; }
    QLineEdit* UserEdit() const { return m_pUser; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

private:
    QLineEdit* m_pServer;
    QLineEdit* m_pPort;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
};
