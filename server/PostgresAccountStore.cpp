#include "server/PostgresAccountStore.h"

#include <libpq-fe.h>

#include <chrono>
#include <string>
#include <utility>

namespace {

// The same tables as the SQLite file's, with bytes for texts.
const char* kSchema =
    "CREATE TABLE users("
    " ntv BYTEA PRIMARY KEY,"
    " password_hash TEXT NOT NULL,"
    " name BYTEA NOT NULL DEFAULT '',"
    " country BYTEA NOT NULL DEFAULT '',"
    " city BYTEA NOT NULL DEFAULT '',"
    " gender BYTEA NOT NULL DEFAULT '',"
    " language BYTEA NOT NULL DEFAULT '',"
    " keywords BYTEA NOT NULL DEFAULT '');"
    "CREATE TABLE contacts("
    " owner BYTEA NOT NULL REFERENCES users(ntv) ON DELETE CASCADE,"
    " ntv BYTEA NOT NULL,"
    " name BYTEA NOT NULL DEFAULT '',"
    " position BIGINT NOT NULL,"
    " PRIMARY KEY(owner, ntv));"
    "CREATE TABLE schema_version(version INTEGER NOT NULL);"
    "INSERT INTO schema_version(version) VALUES(2);";

static_assert(kAccountSchemaVersion == 2, "add the upgrade to the new version");

// Taken by `migrate` for its transaction, so nodes upgrading at once take turns.
constexpr const char* kMigrateLock = "SELECT pg_advisory_xact_lock(5618224716)";

std::string Text(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column),
                       static_cast<size_t>(PQgetlength(result, row, column)));
}

// A binary integer column (int4 or int8, network order); 0 for NULL.
int64_t Int(const PGresult* result, int row, int column) {
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column));
    int64_t value = 0;
    int n = PQgetlength(result, row, column);
    for (int i = 0; i < n; ++i)
        value = static_cast<int64_t>((static_cast<uint64_t>(value) << 8) | p[i]);
    if (n == 4)
        value = static_cast<int32_t>(value);
    return value;
}

bool Changed(const PGresult* result) {
    const char* n = PQcmdTuples(const_cast<PGresult*>(result));
    return n != nullptr && *n != '\0' && std::string(n) != "0";
}

std::string Trimmed(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

void IgnoreNotice(void*, const char*) {}

constexpr std::chrono::seconds kReconnectPause{5};

}  // namespace

void CPostgresAccountStore::SResultFree::operator()(pg_result* result) const {
    PQclear(result);
}

CPostgresAccountStore::~CPostgresAccountStore() {
    if (m_pConn != nullptr)
        PQfinish(m_pConn);
}

bool CPostgresAccountStore::Ready() {
    if (m_pConn == nullptr)
        return false;
    if (PQstatus(m_pConn) == CONNECTION_OK)
        return true;
    // While the database is unreachable, each attempt waits up to the connect timeout, and some callers
    // run on the server's event loop: try again only after a pause, failing at once meanwhile.
    auto now = std::chrono::steady_clock::now();
    if (m_bResetFailed && now - m_tResetFailed < kReconnectPause)
        return false;
    PQreset(m_pConn);
    m_bResetFailed = PQstatus(m_pConn) != CONNECTION_OK;
    if (m_bResetFailed) {
        m_tResetFailed = std::chrono::steady_clock::now();
        m_strError = Trimmed(PQerrorMessage(m_pConn));
    }
    return !m_bResetFailed;
}

bool CPostgresAccountStore::Succeeded(const Result& result, bool& bMayRetry) {
    ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return true;
    m_strError = Trimmed(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_pConn));
    // A statement outside a transaction that met a broken connection (a restarted database, a dropped
    // link) runs once more on a new one; inside a transaction the whole of it has failed.
    bMayRetry = bMayRetry && PQstatus(m_pConn) == CONNECTION_BAD && Ready();
    return false;
}

CPostgresAccountStore::Result CPostgresAccountStore::Query(const char* sql,
                                                           std::initializer_list<const std::string*> params) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats(params.size(), 1);
    for (const std::string* p : params) {
        values.push_back(p->data());
        lengths.push_back(static_cast<int>(p->size()));
    }
    bool retry = PQtransactionStatus(m_pConn) == PQTRANS_IDLE;
    for (;;) {
        Result result(PQexecParams(m_pConn, sql, static_cast<int>(params.size()), nullptr, values.data(),
                                   lengths.data(), formats.data(), 1));
        if (Succeeded(result, retry))
            return result;
        if (!retry)
            return nullptr;
        retry = false;
    }
}

bool CPostgresAccountStore::Exec(const char* sql) {
    bool retry = PQtransactionStatus(m_pConn) == PQTRANS_IDLE;
    for (;;) {
        if (Succeeded(Result(PQexec(m_pConn, sql)), retry))
            return true;
        if (!retry)
            return false;
        retry = false;
    }
}

bool CPostgresAccountStore::Open(const std::string& location, EStoreOpen mode) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pConn != nullptr)
        PQfinish(m_pConn);
    m_nFoundVersion = 0;
    m_bResetFailed = false;
    // Defaults the URI may override: the server's event loop waits on some of these calls, so an
    // unreachable database must fail in seconds rather than hang on TCP's own timeouts.
    const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"5", "10000", "velaphond", location.c_str(), nullptr};
    m_pConn = PQconnectdbParams(keys, values, 1);
    if (m_pConn == nullptr) {
        m_strError = "out of memory";
        return false;
    }
    if (PQstatus(m_pConn) != CONNECTION_OK) {
        m_strError = Trimmed(PQerrorMessage(m_pConn));
        PQfinish(m_pConn);
        m_pConn = nullptr;
        return false;
    }
    PQsetNoticeProcessor(m_pConn, IgnoreNotice, nullptr);
    if (!PrepareSchema(mode)) {
        PQfinish(m_pConn);
        m_pConn = nullptr;
        return false;
    }
    return true;
}

bool CPostgresAccountStore::PrepareSchema(EStoreOpen mode) {
    if (!Exec("BEGIN") || (mode == EStoreOpen::Migrate && !Exec(kMigrateLock)))
        return false;
    bool ok = false;
    if (Result tables = Query("SELECT (to_regclass('schema_version') IS NOT NULL)::int4")) {
        ok = true;
        if (Int(tables.get(), 0, 0) != 0) {
            Result version = Query("SELECT COALESCE(MAX(version), 0) FROM schema_version");
            ok = version != nullptr;
            m_nFoundVersion = ok ? static_cast<int>(Int(version.get(), 0, 0)) : 0;
        }
    }
    const std::string current = std::to_string(kAccountSchemaVersion);
    if (!ok) {
        // the error is kept
    } else if (m_nFoundVersion > kAccountSchemaVersion) {
        m_strError = "the database's schema is version " + std::to_string(m_nFoundVersion) +
                     ", newer than this velaphond knows (" + current + "); use a newer velaphond";
        ok = false;
    } else if (m_nFoundVersion < kAccountSchemaVersion && mode != EStoreOpen::Migrate) {
        m_strError = m_nFoundVersion == 0
                         ? "the database has no velaphond schema yet; run velaphond migrate first"
                         : "the database's schema is version " + std::to_string(m_nFoundVersion) +
                               ", older than this velaphond's (" + current + "); run velaphond migrate first";
        ok = false;
    } else if (m_nFoundVersion == 0) {
        ok = Exec(kSchema);
    }
    if (!ok) {
        std::string error = m_strError;
        Exec("ROLLBACK");
        m_strError = error;
        return false;
    }
    return Exec("COMMIT");
}

IAccountStore::EResult CPostgresAccountStore::AddUser(const CUserProfile& profile,
                                                      const std::string& password, EHashCost cost) {
    std::string hash;
    if (!HashPassword(password, cost, hash))
        return EResult::Failed;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return EResult::Failed;
    Result r = Query(
        "INSERT INTO users(ntv, password_hash, name, country, city, gender, language, keywords)"
        " VALUES($1::bytea, $2::text, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::bytea,"
        " $8::bytea) ON CONFLICT(ntv) DO NOTHING",
        {&profile.strNtv, &hash, &profile.strName, &profile.strCountry, &profile.strCity, &profile.strGender,
         &profile.strLanguage, &profile.strKeywords});
    if (!r)
        return EResult::Failed;
    return Changed(r.get()) ? EResult::Done : EResult::Exists;
}

IAccountStore::EResult CPostgresAccountStore::RemoveUser(const std::string& ntv) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return EResult::Failed;
    Result r = Query("DELETE FROM users WHERE ntv = $1::bytea", {&ntv});
    if (!r)
        return EResult::Failed;
    return Changed(r.get()) ? EResult::Done : EResult::NotFound;
}

std::vector<CUserProfile> CPostgresAccountStore::ListUsers() {
    std::vector<CUserProfile> users;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return users;
    Result r = Query("SELECT ntv, name, country, city, gender, language, keywords FROM users ORDER BY ntv");
    if (!r)
        return users;
    const PGresult* p = r.get();
    for (int i = 0, n = PQntuples(p); i < n; ++i) {
        users.push_back({Text(p, i, 0), Text(p, i, 1), Text(p, i, 2), Text(p, i, 3), Text(p, i, 4),
                         Text(p, i, 5), Text(p, i, 6)});
    }
    return users;
}

IAccountStore::EResult CPostgresAccountStore::LookUpUser(const std::string& ntv, CUserProfile& profile,
                                                         std::string& passwordHash) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return EResult::Failed;
    Result r = Query(
        "SELECT ntv, name, country, city, gender, language, keywords, password_hash"
        " FROM users WHERE ntv = $1::bytea",
        {&ntv});
    if (!r)
        return EResult::Failed;
    if (PQntuples(r.get()) != 1)
        return EResult::NotFound;
    const PGresult* p = r.get();
    profile = {Text(p, 0, 0), Text(p, 0, 1), Text(p, 0, 2), Text(p, 0, 3),
               Text(p, 0, 4), Text(p, 0, 5), Text(p, 0, 6)};
    passwordHash = Text(p, 0, 7);
    return EResult::Done;
}

std::vector<CStoredContact> CPostgresAccountStore::Contacts(const std::string& owner) {
    std::vector<CStoredContact> contacts;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return contacts;
    Result r = Query("SELECT ntv, name FROM contacts WHERE owner = $1::bytea ORDER BY position", {&owner});
    if (!r)
        return contacts;
    for (int i = 0, n = PQntuples(r.get()); i < n; ++i)
        contacts.push_back({Text(r.get(), i, 0), Text(r.get(), i, 1)});
    return contacts;
}

IAccountStore::EResult CPostgresAccountStore::AddContact(const std::string& owner, const std::string& ntv,
                                                         const std::string& name) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready() || !Exec("BEGIN"))
        return EResult::Failed;
    EResult result = EResult::Failed;
    // Locking the owner's row makes nodes adding to one list take turns, so the bound holds across them.
    if (Result account = Query("SELECT 1 FROM users WHERE ntv = $1::bytea FOR UPDATE", {&owner})) {
        if (PQntuples(account.get()) == 0) {
            m_strError = "no account " + owner;
        } else if (Result count =
                       Query("SELECT COUNT(*), COUNT(*) FILTER (WHERE ntv = $2::bytea) FROM contacts"
                             " WHERE owner = $1::bytea",
                             {&owner, &ntv})) {
            if (static_cast<size_t>(Int(count.get(), 0, 0)) >= kMaxContacts && Int(count.get(), 0, 1) == 0) {
                result = EResult::Full;
            } else if (Query("INSERT INTO contacts(owner, ntv, name, position) VALUES($1::bytea, $2::bytea,"
                             " $3::bytea, (SELECT COALESCE(MAX(position), 0) + 1 FROM contacts"
                             " WHERE owner = $1::bytea))"
                             " ON CONFLICT(owner, ntv) DO UPDATE SET name = excluded.name",
                             {&owner, &ntv, &name})) {
                result = Exec("COMMIT") ? EResult::Done : EResult::Failed;
                return result;
            }
        }
    }
    std::string error = m_strError;
    Exec("ROLLBACK");
    m_strError = error;
    return result;
}

IAccountStore::EResult CPostgresAccountStore::RemoveContact(const std::string& owner,
                                                            const std::string& ntv) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!Ready())
        return EResult::Failed;
    Result r = Query("DELETE FROM contacts WHERE owner = $1::bytea AND ntv = $2::bytea", {&owner, &ntv});
    if (!r)
        return EResult::Failed;
    return Changed(r.get()) ? EResult::Done : EResult::NotFound;
}
