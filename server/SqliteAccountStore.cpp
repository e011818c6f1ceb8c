#include "server/SqliteAccountStore.h"

#include <sqlite3.h>

#include <string>
#include <utility>

namespace {

// One prepared statement; finalised when it goes out of scope.
class CStatement {
public:
    CStatement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_pStmt, nullptr) != SQLITE_OK)
            m_pStmt = nullptr;
    }
    ~CStatement() { sqlite3_finalize(m_pStmt); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    bool Ok() const { return m_pStmt != nullptr; }
    CStatement& Bind(int index, const std::string& text) {
        if (m_pStmt != nullptr) {
            sqlite3_bind_text(m_pStmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return m_pStmt != nullptr ? sqlite3_step(m_pStmt) : SQLITE_ERROR; }
    std::string Text(int column) const {
        const unsigned char* p = sqlite3_column_text(m_pStmt, column);
        int n = sqlite3_column_bytes(m_pStmt, column);
        return p != nullptr ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
                            : std::string();
    }
    sqlite3_int64 Int(int column) const { return sqlite3_column_int64(m_pStmt, column); }

private:
    sqlite3_stmt* m_pStmt = nullptr;
};

// Version 1 had no version table and ordered contacts by rowid, which VACUUM may renumber.
const char* kSchema =
    "CREATE TABLE users("
    " ntv TEXT PRIMARY KEY NOT NULL,"
    " password_hash TEXT NOT NULL,"
    " name TEXT NOT NULL DEFAULT '',"
    " country TEXT NOT NULL DEFAULT '',"
    " city TEXT NOT NULL DEFAULT '',"
    " gender TEXT NOT NULL DEFAULT '',"
    " language TEXT NOT NULL DEFAULT '',"
    " keywords TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE contacts("
    " owner TEXT NOT NULL REFERENCES users(ntv) ON DELETE CASCADE,"
    " ntv TEXT NOT NULL,"
    " name TEXT NOT NULL DEFAULT '',"
    " position INTEGER NOT NULL,"
    " PRIMARY KEY(owner, ntv));"
    "CREATE TABLE schema_version(version INTEGER NOT NULL);"
    "INSERT INTO schema_version(version) VALUES(2);";

const char* kUpgradeFrom1 =
    "ALTER TABLE contacts ADD COLUMN position INTEGER NOT NULL DEFAULT 0;"
    "UPDATE contacts SET position = rowid;"
    "CREATE TABLE schema_version(version INTEGER NOT NULL);"
    "INSERT INTO schema_version(version) VALUES(2);";

static_assert(kAccountSchemaVersion == 2, "add the upgrade to the new version");

}  // namespace

CSqliteAccountStore::~CSqliteAccountStore() {
    if (m_pDb != nullptr)
        sqlite3_close_v2(m_pDb);
}

bool CSqliteAccountStore::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_pDb, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    m_strError = message != nullptr ? message : sqlite3_errmsg(m_pDb);
    sqlite3_free(message);
    return false;
}

bool CSqliteAccountStore::PrepareSchema() {
    // IMMEDIATE: two processes opening a version-1 file at once must not both upgrade it.
    if (!Exec("BEGIN IMMEDIATE;"))
        return false;
    bool ok = true;
    {
        CStatement tables(m_pDb,
                          "SELECT SUM(name = 'users'), SUM(name = 'schema_version') FROM sqlite_master"
                          " WHERE type = 'table'");
        ok = tables.Step() == SQLITE_ROW;
        if (ok && tables.Int(1) > 0) {
            CStatement version(m_pDb, "SELECT MAX(version) FROM schema_version");
            ok = version.Step() == SQLITE_ROW;
            m_nFoundVersion = ok ? static_cast<int>(version.Int(0)) : 0;
        } else if (ok) {
            m_nFoundVersion = tables.Int(0) > 0 ? 1 : 0;
        }
    }
    if (!ok) {
        m_strError = sqlite3_errmsg(m_pDb);
    } else if (m_nFoundVersion > kAccountSchemaVersion) {
        m_strError = "the database's schema is version " + std::to_string(m_nFoundVersion) +
                     ", newer than this velaphond knows (" + std::to_string(kAccountSchemaVersion) +
                     "); use a newer velaphond";
        ok = false;
    } else if (m_nFoundVersion == 0) {
        ok = Exec(kSchema);
    } else if (m_nFoundVersion == 1) {
        ok = Exec(kUpgradeFrom1);
    }
    if (!ok) {
        std::string error = m_strError;
        Exec("ROLLBACK;");
        m_strError = error;
        return false;
    }
    return Exec("COMMIT;");
}

bool CSqliteAccountStore::Open(const std::string& path, EStoreOpen mode) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb != nullptr) {
        sqlite3_close_v2(m_pDb);
        m_pDb = nullptr;
    }
    m_nFoundVersion = 0;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
    if (mode != EStoreOpen::Use)
        flags |= SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &m_pDb, flags, nullptr) != SQLITE_OK) {
        m_strError = m_pDb != nullptr ? sqlite3_errmsg(m_pDb) : "out of memory";
        sqlite3_close_v2(m_pDb);
        m_pDb = nullptr;
        return false;
    }
    // The `user` commands may write while a server reads: wait for each other instead of failing.
    // With the write-ahead log, NORMAL syncs at checkpoints only and still never corrupts the file.
    sqlite3_busy_timeout(m_pDb, 5000);
    bool ok = Exec("PRAGMA foreign_keys = ON;") &&
              (path == ":memory:" ||
               (Exec("PRAGMA journal_mode = WAL;") && Exec("PRAGMA synchronous = NORMAL;"))) &&
              PrepareSchema();
    if (!ok) {
        sqlite3_close_v2(m_pDb);
        m_pDb = nullptr;
    }
    return ok;
}

IAccountStore::EResult CSqliteAccountStore::AddUser(const CUserProfile& profile, const std::string& password,
                                                    EHashCost cost) {
    std::string hash;
    if (!HashPassword(password, cost, hash))
        return EResult::Failed;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return EResult::Failed;
    CStatement st(m_pDb,
                  "INSERT INTO users(ntv, password_hash, name, country, city, gender, language, keywords)"
                  " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(ntv) DO NOTHING");
    st.Bind(1, profile.strNtv).Bind(2, hash).Bind(3, profile.strName).Bind(4, profile.strCountry);
    st.Bind(5, profile.strCity).Bind(6, profile.strGender).Bind(7, profile.strLanguage);
    st.Bind(8, profile.strKeywords);
    if (st.Step() != SQLITE_DONE) {
        m_strError = sqlite3_errmsg(m_pDb);
        return EResult::Failed;
    }
    return sqlite3_changes(m_pDb) == 1 ? EResult::Done : EResult::Exists;
}

IAccountStore::EResult CSqliteAccountStore::RemoveUser(const std::string& ntv) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return EResult::Failed;
    CStatement st(m_pDb, "DELETE FROM users WHERE ntv = ?1");
    st.Bind(1, ntv);
    if (st.Step() != SQLITE_DONE) {
        m_strError = sqlite3_errmsg(m_pDb);
        return EResult::Failed;
    }
    return sqlite3_changes(m_pDb) == 1 ? EResult::Done : EResult::NotFound;
}

std::vector<CUserProfile> CSqliteAccountStore::ListUsers() {
    std::vector<CUserProfile> users;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return users;
    CStatement st(m_pDb,
                  "SELECT ntv, name, country, city, gender, language, keywords FROM users ORDER BY ntv");
    while (st.Step() == SQLITE_ROW) {
        users.push_back({st.Text(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), st.Text(5), st.Text(6)});
    }
    return users;
}

IAccountStore::EResult CSqliteAccountStore::LookUpUser(const std::string& ntv, CUserProfile& profile,
                                                       std::string& passwordHash) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return EResult::Failed;
    CStatement st(m_pDb,
                  "SELECT ntv, name, country, city, gender, language, keywords, password_hash"
                  " FROM users WHERE ntv = ?1");
    st.Bind(1, ntv);
    const int step = st.Step();
    if (step == SQLITE_DONE)
        return EResult::NotFound;
    if (step != SQLITE_ROW)
        return EResult::Failed;  // locked past the busy timeout, or the file unreadable
    profile = {st.Text(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), st.Text(5), st.Text(6)};
    passwordHash = st.Text(7);
    return EResult::Done;
}

std::vector<CStoredContact> CSqliteAccountStore::Contacts(const std::string& owner) {
    std::vector<CStoredContact> contacts;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return contacts;
    CStatement st(m_pDb, "SELECT ntv, name FROM contacts WHERE owner = ?1 ORDER BY position");
    st.Bind(1, owner);
    while (st.Step() == SQLITE_ROW)
        contacts.push_back({st.Text(0), st.Text(1)});
    return contacts;
}

IAccountStore::EResult CSqliteAccountStore::AddContact(const std::string& owner, const std::string& ntv,
                                                       const std::string& name) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // IMMEDIATE: another process sharing the file must not slip an entry between the count and the add.
    if (m_pDb == nullptr || !Exec("BEGIN IMMEDIATE;"))
        return EResult::Failed;
    EResult result = EResult::Failed;
    {
        CStatement count(m_pDb, "SELECT COUNT(*), SUM(ntv = ?2) FROM contacts WHERE owner = ?1");
        count.Bind(1, owner).Bind(2, ntv);
        if (count.Step() != SQLITE_ROW) {
            m_strError = sqlite3_errmsg(m_pDb);
        } else if (static_cast<size_t>(count.Int(0)) >= kMaxContacts && count.Int(1) == 0) {
            result = EResult::Full;
        } else {
            CStatement st(
                m_pDb,
                "INSERT INTO contacts(owner, ntv, name, position)"
                " VALUES(?1, ?2, ?3, (SELECT COALESCE(MAX(position), 0) + 1 FROM contacts WHERE owner = ?1))"
                " ON CONFLICT(owner, ntv) DO UPDATE SET name = excluded.name");
            st.Bind(1, owner).Bind(2, ntv).Bind(3, name);
            // Fails when the owner has no account (foreign key), e.g. removed meanwhile.
            if (st.Step() == SQLITE_DONE)
                result = EResult::Done;
            else
                m_strError = sqlite3_errmsg(m_pDb);
        }
    }
    if (result == EResult::Done)
        return Exec("COMMIT;") ? result : EResult::Failed;
    std::string error = m_strError;
    Exec("ROLLBACK;");
    m_strError = error;
    return result;
}

IAccountStore::EResult CSqliteAccountStore::RemoveContact(const std::string& owner, const std::string& ntv) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pDb == nullptr)
        return EResult::Failed;
    CStatement st(m_pDb, "DELETE FROM contacts WHERE owner = ?1 AND ntv = ?2");
    st.Bind(1, owner).Bind(2, ntv);
    if (st.Step() != SQLITE_DONE)
        return EResult::Failed;
    return sqlite3_changes(m_pDb) > 0 ? EResult::Done : EResult::NotFound;
}
