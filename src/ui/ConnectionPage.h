// CConnectionPage (dialog 149): the HTTP proxy and the accounts of the properties sheet. The page edits
// a copy of the accounts list; the sheet stores it when it applies.
#pragma once

#include <QWidget>

#include "app/AccountsEditor.h"
#include "app/PropertiesValues.h"

class CClientApp;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class CConnectionPage : public QWidget {
    Q_OBJECT
public:
    enum { IDD = 149 };
    enum : int {
        IDC_PROXY_ACTIVATE = 1033,
        IDC_PROXY_HOST = 1027,
        IDC_PROXY_PORT = 1028,
        IDC_PROXY_LOGIN = 1029,
        IDC_PROXY_PASSWORD = 1030,
        IDC_PROXY_DOMAIN = 1031,
        IDC_ACCOUNTS = 1092,
        IDC_APPEND = 1089,
        IDC_MODIFY = 1090,
        IDC_DELETE = 1091,
        IDC_ACTIVATE = 1093,
    };

    CConnectionPage(CClientApp& app, QWidget* parent);
    // A port field that holds no port hands over -1, which applying refuses.
    void Store(SPropertiesValues& values) const;

    // The account editing commands (the buttons; double-click selects and modifies).
    void Append();
    void Modify();
    void Delete();
    void Activate();

    const CAccountsEditor& Editor() const { return m_Editor; }
    QCheckBox* ProxyBox() const { return m_pProxy; }
    QLineEdit* ProxyHostEdit() const { return m_pHost; }
    QLineEdit* ProxyPortEdit() const { return m_pPort; }
    QLineEdit* ProxyLoginEdit() const { return m_pLogin; }
    QLineEdit* ProxyPasswordEdit() const { return m_pPassword; }
    QLineEdit* ProxyDomainEdit() const { return m_pDomain; }
    QListWidget* AccountList() const { return m_pList; }
    QPushButton* AppendButton() const { return m_pAppend; }
    QPushButton* ModifyButton() const { return m_pModify; }
    QPushButton* DeleteButton() const { return m_pDelete; }
    QPushButton* ActivateButton() const { return m_pActivate; }

private:
    void EnableProxyFields(bool on);
    // Redraws every line from the editor's list and selection.
    void ShowAccounts();
    void OnRowChosen(int row);

    CAccountsEditor m_Editor;
    QCheckBox* m_pProxy;
    QLineEdit* m_pHost;
    QLineEdit* m_pPort;
    QLineEdit* m_pLogin;
    QLineEdit* m_pPassword;
    QLineEdit* m_pDomain;
    QListWidget* m_pList;
    QPushButton* m_pAppend;
    QPushButton* m_pModify;
    QPushButton* m_pDelete;
    QPushButton* m_pActivate;
};
