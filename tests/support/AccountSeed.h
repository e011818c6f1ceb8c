// Accounts and contact lists written straight into a fresh server database, with cheap hashes, for tests
// and benchmarks that start velaphond. Header-only: whoever includes it links vp_server.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "server/AccountStore.h"

namespace vp::test {

struct SUser {
    std::string ntv, password, name;
    std::vector<std::pair<std::string, std::string>> contacts;  // NTV, nickname
};

// False when the database cannot be made or an entry is refused.
inline bool SeedDatabase(const std::string& path, const std::vector<SUser>& users) {
    CAccountStore store;
    if (!store.Open(path, true))
        return false;
    for (const SUser& u : users) {
        CUserProfile p;
        p.strNtv = u.ntv;
        p.strName = u.name;
        if (store.AddUser(p, u.password, EHashCost::Minimal) != CAccountStore::EResult::Done)
            return false;
        for (const auto& [ntv, nick] : u.contacts)
            if (store.AddContact(u.ntv, ntv, nick) != CAccountStore::EResult::Done)
                return false;
    }
    return true;
}

}  // namespace vp::test
