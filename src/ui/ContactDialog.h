// CContactDialog (dialog 153): a contact's NTV and nickname, as the user types them. The fields hold no
// more than the wire carries: 15 characters of NTV, 255 bytes of nickname.
#pragma once

#include <string>

#include "ui/RoundedDialog.h"

class CSessionController;
class QLineEdit;
class QPushButton;

class CContactDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 153 };

    // `ntvEditable` false: the NTV is shown but only the nickname can change (Edit).
    CContactDialog(const std::string& ntv, const std::string& nickname, QWidget* parent = nullptr,
                   bool ntvEditable = true);

    // Without the spaces around it.
    std::string Ntv() const;
    std::string Nickname() const;

    QLineEdit* NtvEdit() const { return m_pNtv; }
    QLineEdit* NicknameEdit() const { return m_pNickname; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

private:
    void FitNickname();
    void UpdateOk();

    QLineEdit* m_pNtv;
    QLineEdit* m_pNickname;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};

// The directory's "addntv=" link and the contacts window's Append: the dialog with that NTV; on OK with
// an NTV, one already listed gets notice 140, otherwise the contact is added (the open contacts window
// shows it through the session's event). True when added.
bool OfferNewContact(QWidget* parent, CSessionController& session, const std::string& ntv);
