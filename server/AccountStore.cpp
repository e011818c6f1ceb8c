#include "server/AccountStore.h"

#include <algorithm>

#include "server/PostgresAccountStore.h"
#include "server/SqliteAccountStore.h"

bool IsPostgresLocation(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::string DisplayLocation(const std::string& location) {
    if (!IsPostgresLocation(location))
        return location;
    std::string shown = location;
    size_t start = shown.find("://") + 3;
    size_t end = std::min(shown.find_first_of("/?", start), shown.size());
    size_t at = shown.rfind('@', end);
    size_t colon = shown.find(':', start);
    if (at != std::string::npos && at >= start && colon < at)
        shown.replace(colon + 1, at - colon - 1, "***");
    for (size_t pos = shown.find("password=", end); pos != std::string::npos;
         pos = shown.find("password=", pos + 1)) {
        if (shown[pos - 1] != '?' && shown[pos - 1] != '&')
            continue;
        size_t value = pos + 9;
        size_t next = std::min(shown.find('&', value), shown.size());
        shown.replace(value, next - value, "***");
    }
    return shown;
}

CAccountStore::~CAccountStore() = default;

bool CAccountStore::Open(const std::string& location, EStoreOpen mode) {
    m_pBackEnd.reset();
    if (IsPostgresLocation(location))
        m_pBackEnd = std::make_unique<CPostgresAccountStore>();
    else
        m_pBackEnd = std::make_unique<CSqliteAccountStore>();
    return m_pBackEnd->Open(location, mode);
}

const std::string& CAccountStore::LastError() const {
    return m_pBackEnd ? m_pBackEnd->LastError() : m_strError;
}

int CAccountStore::FoundSchemaVersion() const {
    return m_pBackEnd ? m_pBackEnd->FoundSchemaVersion() : 0;
}

CAccountStore::EResult CAccountStore::AddUser(const CUserProfile& profile, const std::string& password,
                                              EHashCost cost) {
    return m_pBackEnd ? m_pBackEnd->AddUser(profile, password, cost) : EResult::Failed;
}

CAccountStore::EResult CAccountStore::RemoveUser(const std::string& ntv) {
    return m_pBackEnd ? m_pBackEnd->RemoveUser(ntv) : EResult::Failed;
}

std::vector<CUserProfile> CAccountStore::ListUsers() {
    return m_pBackEnd ? m_pBackEnd->ListUsers() : std::vector<CUserProfile>();
}

IAccountStore::EResult CAccountStore::LookUpUser(const std::string& ntv, CUserProfile& profile,
                                                 std::string& passwordHash) {
    return m_pBackEnd ? m_pBackEnd->LookUpUser(ntv, profile, passwordHash) : EResult::Failed;
}

std::vector<CStoredContact> CAccountStore::Contacts(const std::string& owner) {
    return m_pBackEnd ? m_pBackEnd->Contacts(owner) : std::vector<CStoredContact>();
}

CAccountStore::EResult CAccountStore::AddContact(const std::string& owner, const std::string& ntv,
                                                 const std::string& name) {
    return m_pBackEnd ? m_pBackEnd->AddContact(owner, ntv, name) : EResult::Failed;
}

CAccountStore::EResult CAccountStore::RemoveContact(const std::string& owner, const std::string& ntv) {
    return m_pBackEnd ? m_pBackEnd->RemoveContact(owner, ntv) : EResult::Failed;
}
