#include "app/AccountsEditor.h"

#include <utility>

#include "platform/Ascii.h"

CAccountsEditor::CAccountsEditor(CAccountList accounts) : m_Accounts(std::move(accounts)) {}

void CAccountsEditor::Select(int index) {
    m_nSelected = (index >= 0 && static_cast<size_t>(index) < m_Accounts.size()) ? index : -1;
}

bool CAccountsEditor::IsListed(const std::string& ntv, const std::string& server, int except) const {
    for (size_t i = 0; i < m_Accounts.size(); ++i) {
        if (static_cast<int>(i) == except)
            continue;
        // Host names are the same host whatever their letter case.
        if (m_Accounts[i].m_strNtv == ntv && ascii::EqualNoCase(m_Accounts[i].m_strServer, server))
            return true;
    }
    return false;
}

CAccountsEditor::EResult CAccountsEditor::Append(const Account& account) {
    if (IsListed(account.m_strNtv, account.m_strServer, -1))
        return EResult::AlreadyListed;
    Account a = account;
    a.m_nDefault = m_Accounts.empty() ? 1 : 0;
    m_Accounts.push_back(std::move(a));
    return EResult::Done;
}

CAccountsEditor::EResult CAccountsEditor::Modify(const std::string& ntv, const std::string& password,
                                                 const std::string& server) {
    if (!HasSelection())
        return EResult::NoSelection;
    // Two lines for one connection would be the duplicate that Append refuses.
    if (IsListed(ntv, server, m_nSelected))
        return EResult::AlreadyListed;
    Account& a = m_Accounts[static_cast<size_t>(m_nSelected)];
    a.m_strNtv = ntv;
    a.m_strPassword = password;
    a.m_strServer = server;
    return EResult::Done;
}

CAccountsEditor::EResult CAccountsEditor::Delete() {
    if (!HasSelection())
        return EResult::NoSelection;
    const bool wasDefault = m_Accounts[static_cast<size_t>(m_nSelected)].m_nDefault == 1;
    m_Accounts.erase(m_Accounts.begin() + m_nSelected);
    m_nSelected = -1;
    if (wasDefault && !m_Accounts.empty()) {
        m_nSelected = 0;
        Activate();
    }
    return EResult::Done;
}

CAccountsEditor::EResult CAccountsEditor::Activate() {
    if (!HasSelection())
        return EResult::NoSelection;
    for (size_t i = 0; i < m_Accounts.size(); ++i)
        m_Accounts[i].m_nDefault = static_cast<int>(i) == m_nSelected ? 1 : 0;
    return EResult::Done;
}
