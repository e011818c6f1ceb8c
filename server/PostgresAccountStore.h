// CPostgresAccountStore: the accounts in a PostgreSQL database that several velaphond nodes share. One
// connection serves every thread, under a lock; a connection found broken is made again (at most every
// few seconds while that fails), and a statement that found it so outside a transaction runs again on
// the new one. Texts are kept as bytes (bytea), as the
// protocol carries them in whatever code page the client uses, and NTVs order by their bytes, as in SQLite.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/AccountStore.h"

struct pg_conn;
struct pg_result;

class CPostgresAccountStore : public IAccountStore {
public:
    CPostgresAccountStore() = default;
    ~CPostgresAccountStore() override;
    CPostgresAccountStore(const CPostgresAccountStore&) = delete;
    CPostgresAccountStore& operator=(const CPostgresAccountStore&) = delete;

    // The location is a libpq connection URI ("postgresql://user@host/db?...").
    bool Open(const std::string& location, EStoreOpen mode) override;
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
    struct SResultFree {
        void operator()(pg_result* result) const;
    };
    using Result = std::unique_ptr<pg_result, SResultFree>;

    // Reconnects a broken connection; false when there is none to use.
    bool Ready();
    // Runs one statement with its parameters as bytes; the result in binary form, or null with the error
    // kept.
    Result Query(const char* sql, std::initializer_list<const std::string*> params = {});
    // Runs statements without parameters (several may be given at once).
    bool Exec(const char* sql);
    // Keeps the error of a failed statement; bMayRetry stays true only when it is worth running again.
    bool Succeeded(const Result& result, bool& bMayRetry);
    bool PrepareSchema(EStoreOpen mode);

    std::mutex m_mutex;
    pg_conn* m_pConn = nullptr;
    std::string m_strError;
    int m_nFoundVersion = 0;
    bool m_bResetFailed = false;
    std::chrono::steady_clock::time_point m_tResetFailed;
};
