// CAccountsEditor: the Connection page's own copy of the accounts list and its editing rules, with the
// selected line. Every edit but Append works on the selection and does nothing without one.
#pragma once

#include <string>

#include "settings/Accounts.h"

class CAccountsEditor {
public:
    enum class EResult {
        Done,
        NoSelection,
        AlreadyListed,  // another account has the same NTV and server (message 144)
    };

    explicit CAccountsEditor(CAccountList accounts = {});

    const CAccountList& Accounts() const { return m_Accounts; }
    // -1 when no line is selected.
    int Selected() const { return m_nSelected; }
    bool HasSelection() const { return m_nSelected >= 0; }
    // An index outside the list clears the selection.
    void Select(int index);

    // The first account of an empty list becomes the default; the selection stays where it was.
    EResult Append(const Account& account);
    // Stores the three fields in the selected account; its default flag stays.
    EResult Modify(const std::string& ntv, const std::string& password, const std::string& server);
    // Removes the selected account. When it was the default and others remain, the first becomes the
    // default and is selected; otherwise nothing stays selected.
    EResult Delete();
    // The selected account becomes the only default.
    EResult Activate();

private:
    // Whether an account other than `except` has this NTV and server.
    bool IsListed(const std::string& ntv, const std::string& server, int except) const;

    CAccountList m_Accounts;
    int m_nSelected = -1;
};
