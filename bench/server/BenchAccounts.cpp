#include "BenchAccounts.h"

#include "server/AccountStore.h"

bool SeedBenchAccounts(const std::string& db, int clients, int calls) {
    CAccountStore store;
    if (!store.Open(db, true))
        return false;
    bool ok = true;
    auto add = [&](const std::string& ntv) {
        CUserProfile p;
        p.strNtv = ntv;
        ok = ok && store.AddUser(p, ntv, EHashCost::Minimal) == IAccountStore::EResult::Done;
    };
    for (int i = 0; i < clients; ++i)
        add(IdleNtv(i));
    for (int i = 0; i < calls; ++i) {
        add(CallerNtv(i));
        add(CalleeNtv(i));
    }
    return ok;
}
