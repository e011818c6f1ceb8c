// CAccountStore: the server's SQLite database of accounts, profiles and each user's contact list.
// Every call is serialised by one lock, so the protocol thread, the web pages and password checks may
// share one store; other processes (the `user` commands) may change the file while the server runs.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "server/PasswordHash.h"
#include "server/UserProfile.h"

struct sqlite3;

struct CStoredContact {
    std::string strNtv;
    std::string strName;
};

class CAccountStore {
public:
    // A hostile client must not grow the database without bound.
    static constexpr size_t kMaxContacts = 1000;

    enum class EResult { Done, Exists, NotFound, Full, Failed };

    CAccountStore() = default;
    ~CAccountStore();
    CAccountStore(const CAccountStore&) = delete;
    CAccountStore& operator=(const CAccountStore&) = delete;

    // Opens (and with bCreate makes) the database; ":memory:" gives a private one.
    bool Open(const std::string& path, bool bCreate);
    const std::string& LastError() const { return m_strError; }

    // Adds an account with a fresh salted hash of the password; an existing NTV is left unchanged.
    EResult AddUser(const CUserProfile& profile, const std::string& password, EHashCost cost);
    // Removes the account and its contact list.
    EResult RemoveUser(const std::string& ntv);
    std::vector<CUserProfile> ListUsers();
    // The profile and stored hash of one account; false when there is none.
    bool FindUser(const std::string& ntv, CUserProfile& profile, std::string& passwordHash);

    std::vector<CStoredContact> Contacts(const std::string& owner);
    // Adds the contact, or renames it when the owner already has it (its place in the list stays).
    EResult AddContact(const std::string& owner, const std::string& ntv, const std::string& name);
    EResult RemoveContact(const std::string& owner, const std::string& ntv);

private:
    bool Exec(const char* sql);

    std::mutex m_mutex;
    sqlite3* m_pDb = nullptr;
    std::string m_strError;
};
