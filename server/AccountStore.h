// The server's accounts, profiles and each user's contact list, behind one interface with two back ends:
// a SQLite file (the default, one server process) and PostgreSQL (several nodes sharing the accounts).
// CAccountStore picks the back end from where the database is: a libpq URI ("postgresql://...") or a
// file path. Every call is serialised by the back end's lock, so the protocol thread, the web pages and
// password checks may share one store; other processes (the `user` commands, other nodes) may change
// the data while the server runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "server/PasswordHash.h"
#include "server/UserProfile.h"

struct CStoredContact {
    std::string strNtv;
    std::string strName;
};

// The layout of the tables this program knows. 1: users and contacts ordered by insertion (files made
// before the version table existed); 2: the version table and an explicit position for each contact.
inline constexpr int kAccountSchemaVersion = 2;

// How a store is opened. Use: an existing database whose schema is the current one; a SQLite file of
// an older schema is upgraded in place, as one server owns it, while PostgreSQL, shared by several
// nodes, waits for `velaphond migrate`. Create: as Use, but a missing SQLite file is made. Migrate:
// creates the schema or upgrades an older one, in either back end.
enum class EStoreOpen { Use, Create, Migrate };

class IAccountStore {
public:
    // A hostile client must not grow the database without bound.
    static constexpr size_t kMaxContacts = 1000;

    enum class EResult { Done, Exists, NotFound, Full, Failed };

    virtual ~IAccountStore() = default;

    // Opens the database; a schema newer than kAccountSchemaVersion is always refused.
    virtual bool Open(const std::string& location, EStoreOpen mode) = 0;
    virtual const std::string& LastError() const = 0;
    // The schema version found when the database was opened (0: none yet).
    virtual int FoundSchemaVersion() const = 0;

    // Adds an account with a fresh salted hash of the password; an existing NTV is left unchanged.
    virtual EResult AddUser(const CUserProfile& profile, const std::string& password, EHashCost cost) = 0;
    // Removes the account and its contact list.
    virtual EResult RemoveUser(const std::string& ntv) = 0;
    // Every account, ordered by the bytes of the NTV.
    virtual std::vector<CUserProfile> ListUsers() = 0;
    // The profile and stored hash of one account: Done, NotFound, or Failed when the store could not be
    // read (a database out of reach), which must not pass for an unknown NTV.
    virtual EResult LookUpUser(const std::string& ntv, CUserProfile& profile, std::string& passwordHash) = 0;
    // LookUpUser found it.
    bool FindUser(const std::string& ntv, CUserProfile& profile, std::string& passwordHash) {
        return LookUpUser(ntv, profile, passwordHash) == EResult::Done;
    }

    virtual std::vector<CStoredContact> Contacts(const std::string& owner) = 0;
    // Adds the contact at the end, or renames it when the owner already has it (its place in the list
    // stays). Full when the owner already has kMaxContacts others; Failed when the owner has no account.
    virtual EResult AddContact(const std::string& owner, const std::string& ntv, const std::string& name) = 0;
    virtual EResult RemoveContact(const std::string& owner, const std::string& ntv) = 0;
};

// True when the location names a PostgreSQL database rather than a SQLite file.
bool IsPostgresLocation(const std::string& location);
// The location as messages and logs may show it: a URI's password, if any, is hidden.
std::string DisplayLocation(const std::string& location);

// The store the server and its commands use, on whichever back end the location names.
class CAccountStore : public IAccountStore {
public:
    CAccountStore() = default;
    ~CAccountStore() override;
    CAccountStore(const CAccountStore&) = delete;
    CAccountStore& operator=(const CAccountStore&) = delete;

    // With bCreate a missing SQLite file is made; ":memory:" gives a private one.
    bool Open(const std::string& location, bool bCreate) {
        return Open(location, bCreate ? EStoreOpen::Create : EStoreOpen::Use);
    }
    bool Open(const std::string& location, EStoreOpen mode) override;
    const std::string& LastError() const override;
    int FoundSchemaVersion() const override;

    EResult AddUser(const CUserProfile& profile, const std::string& password, EHashCost cost) override;
    EResult RemoveUser(const std::string& ntv) override;
    std::vector<CUserProfile> ListUsers() override;
    EResult LookUpUser(const std::string& ntv, CUserProfile& profile, std::string& passwordHash) override;
    std::vector<CStoredContact> Contacts(const std::string& owner) override;
    EResult AddContact(const std::string& owner, const std::string& ntv, const std::string& name) override;
    EResult RemoveContact(const std::string& owner, const std::string& ntv) override;

private:
    std::unique_ptr<IAccountStore> m_pBackEnd;
    std::string m_strError;
};
