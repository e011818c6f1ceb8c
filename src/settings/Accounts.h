// The stored accounts: four values per account under "Software\Velaphon\Settings\Accounts"
// ("Ntv%d", "Pass%d", "Srv%d", "Default%d"); the number of accounts is the value count divided by four.
#pragma once

#include <string>
#include <vector>

class CSettings;

struct Account {
    std::string m_strNtv;
    std::string m_strPassword;
    std::string m_strServer;
    int m_nDefault = 0;  // 1 for the default account

    bool IsValid() const { return !m_strNtv.empty() && !m_strPassword.empty() && !m_strServer.empty(); }
    bool operator==(const Account&) const = default;
};

using CAccountList = std::vector<Account>;

constexpr const char* kAccountsKey = "Software\\Velaphon\\Settings\\Accounts";

// The valid accounts in index order; empty when the key is missing.
CAccountList LoadAccounts();
// Replaces the stored list. The default account also becomes the settings' account (server with port
// 443, NTV, password), and the settings are saved. All in one save of the hive.
bool SaveAccounts(const CAccountList& accounts, CSettings& settings);
