// CSqliteAccountStore: the accounts in one SQLite file (write-ahead log, so the `user` commands and a
// running server may share it).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "server/AccountStore.h"

struct sqlite3;

class CSqliteAccountStore : public IAccountStore {
public:
    CSqliteAccountStore() = default;
    ~CSqliteAccountStore() override;
    CSqliteAccountStore(const CSqliteAccountStore&) = delete;
    CSqliteAccountStore& operator=(const CSqliteAccountStore&) = delete;

    // ":memory:" gives a private database.
    bool Open(const std::string& path, EStoreOpen mode) override;
    const std::string& LastError() const override { return m_strError; }
    int FoundSchemaVersion() const override { return m_nFoundVersion; }

    EResult AddUser(const CUserProfile& profile, const std::string& password, EHashCost cost) override;
    EResult RemoveUser(const std::string& ntv) override;
    std::vector<CUserProfile> ListUsers() override;
    EResult LookUpUser(const std::string& ntv, CUserProfile& profile, std::string& passwordHash) override;
    std::vector<CStoredContact> Contacts(const std::string& owner) override;
    EResult AddContact(const std::string& owner, const std::string& ntv, const std::string& name) override;
    EResult RemoveContact(const std::string& owner, const std::string& ntv) override;

private:
    bool Exec(const char* sql);
    // Brings the schema to the current version inside one transaction; false leaves the file as it was.
    bool PrepareSchema();

    std::mutex m_mutex;
    sqlite3* m_pDb = nullptr;
    std::string m_strError;
    int m_nFoundVersion = 0;
};
