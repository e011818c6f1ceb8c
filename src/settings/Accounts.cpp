#include "settings/Accounts.h"

#include "platform/Registry.h"
#include "settings/RegistryKey.h"
#include "settings/Settings.h"

namespace {

std::string Indexed(const char* name, size_t i) {
    return name + std::to_string(i);
}

}  // namespace

CAccountList LoadAccounts() {
    CAccountList list;
    CRegistryKey key;
    if (!key.SetKey(kAccountsKey, false))
        return list;
    int count = key.ValueCount() / 4;
    for (int i = 0; i < count; ++i) {
        size_t n = static_cast<size_t>(i);
        Account a;
        a.m_strNtv = key.ReadString(Indexed("Ntv", n), "");
        a.m_strPassword = key.ReadString(Indexed("Pass", n), "");
        a.m_strServer = key.ReadString(Indexed("Srv", n), "");
        a.m_nDefault = key.ReadNumber(Indexed("Default", n), 0);
        if (a.IsValid())
            list.push_back(a);
    }
    return list;
}

bool SaveAccounts(const CAccountList& accounts, CSettings& settings) {
    CRegistryBatch batch;
    CRegistryKey key;
    if (!key.SetKey(kAccountsKey, true))
        return false;
    int held = key.ValueCount() / 4;
    for (int i = 0; i < held; ++i) {
        size_t n = static_cast<size_t>(i);
        key.DeleteValue(Indexed("Ntv", n));
        key.DeleteValue(Indexed("Pass", n));
        key.DeleteValue(Indexed("Srv", n));
        key.DeleteValue(Indexed("Default", n));
    }
    bool ok = true;
    for (size_t i = 0; i < accounts.size(); ++i) {
        const Account& a = accounts[i];
        ok = key.WriteString(Indexed("Ntv", i), a.m_strNtv) && ok;
        ok = key.WriteString(Indexed("Pass", i), a.m_strPassword) && ok;
        ok = key.WriteString(Indexed("Srv", i), a.m_strServer) && ok;
        ok = key.WriteNumber(Indexed("Default", i), a.m_nDefault) && ok;
        if (a.m_nDefault == 1) {
            settings.SetServer(a.m_strServer, CSettings::kServerPort);
            settings.SetUser(a.m_strNtv, a.m_strPassword);
            ok = settings.Save() && ok;
        }
    }
    return batch.Commit() && ok;
}
