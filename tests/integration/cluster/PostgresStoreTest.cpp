// The accounts store on a real PostgreSQL: the behaviour every back end shares, then what only a
// database that several nodes share has to get right.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server/AccountStore.h"
#include "support/PostgresServer.h"
#include "unit/server/AccountStoreContract.h"

namespace {

// One server for the whole test program, a database for each test.
vp::test::CPostgresServer& Server() {
    static vp::test::CPostgresServer server;
    static const bool started = [] {
        std::string error;
        bool ok = server.Start(&error);
        if (!ok)
            ADD_FAILURE() << "no PostgreSQL for the tests: " << error;
        return ok;
    }();
    (void)started;
    return server;
}

std::string FreshDatabase() {
    static int count = 0;
    return Server().CreateDatabase("store" + std::to_string(++count));
}

struct SPostgresBackEnd {
    static std::string FreshLocation() { return FreshDatabase(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Postgres, AccountStoreContract, SPostgresBackEnd);

using EResult = IAccountStore::EResult;

CUserProfile User(const std::string& ntv) {
    CUserProfile p;
    p.strNtv = ntv;
    return p;
}

std::string DatabaseOf(const std::string& uri) {
    size_t start = uri.find(":///") + 4;
    return uri.substr(start, uri.find('?') - start);
}

// Several nodes share one database: its schema changes only through migrate.
TEST(PostgresStore, OnlyMigrateMakesOrUpgradesTheSchemaAndANewerOneIsRefused) {
    const std::string uri = FreshDatabase();
    ASSERT_FALSE(uri.empty());
    for (EStoreOpen mode : {EStoreOpen::Use, EStoreOpen::Create}) {
        CAccountStore store;
        EXPECT_FALSE(store.Open(uri, mode));
        EXPECT_NE(store.LastError().find("run velaphond migrate"), std::string::npos) << store.LastError();
    }
    CAccountStore store;
    ASSERT_TRUE(store.Open(uri, EStoreOpen::Migrate)) << store.LastError();
    EXPECT_EQ(store.FoundSchemaVersion(), 0);
    ASSERT_EQ(store.AddUser(User("1001"), "a", EHashCost::Minimal), EResult::Done);
    ASSERT_TRUE(store.Open(uri, EStoreOpen::Migrate));
    EXPECT_EQ(store.FoundSchemaVersion(), kAccountSchemaVersion);
    EXPECT_EQ(store.ListUsers().size(), 1u);

    ASSERT_TRUE(Server().RunSql(DatabaseOf(uri), "UPDATE schema_version SET version = 3"));
    for (EStoreOpen mode : {EStoreOpen::Use, EStoreOpen::Migrate}) {
        EXPECT_FALSE(store.Open(uri, mode));
        EXPECT_NE(store.LastError().find("version 3, newer than this velaphond knows"), std::string::npos)
            << store.LastError();
    }
    std::string version;
    ASSERT_TRUE(Server().RunSql(DatabaseOf(uri), "SELECT version FROM schema_version", &version));
    EXPECT_EQ(version, "3\n");

    EXPECT_FALSE(store.Open(Server().Uri("no_such_database"), EStoreOpen::Migrate));
    EXPECT_NE(store.LastError().find("no_such_database"), std::string::npos) << store.LastError();
    EXPECT_EQ(store.AddUser(User("1"), "p", EHashCost::Minimal), EResult::Failed);
}

TEST(PostgresStore, TwoNodesSeeEachOthersChangesAndTheContactBoundHoldsAcrossThem) {
    const std::string uri = FreshDatabase();
    CAccountStore a, b;
    ASSERT_TRUE(a.Open(uri, EStoreOpen::Migrate)) << a.LastError();
    ASSERT_TRUE(b.Open(uri, EStoreOpen::Use)) << b.LastError();
    ASSERT_EQ(a.AddUser(User("1001"), "pw", EHashCost::Minimal), EResult::Done);
    EXPECT_EQ(b.AddUser(User("1001"), "other", EHashCost::Minimal), EResult::Exists);
    CUserProfile p;
    std::string hash;
    ASSERT_TRUE(b.FindUser("1001", p, hash));
    EXPECT_TRUE(VerifyPassword(hash, "pw"));

    // Both nodes fill one list at once, past its bound.
    constexpr size_t kEach = IAccountStore::kMaxContacts / 2 + 100;
    std::atomic<size_t> full{0};
    auto fill = [&](CAccountStore& node, const std::string& prefix) {
        for (size_t i = 0; i < kEach; ++i) {
            EResult r = node.AddContact("1001", prefix + std::to_string(i), "");
            full += r == EResult::Full;
            EXPECT_TRUE(r == EResult::Done || r == EResult::Full);
        }
    };
    std::thread first(fill, std::ref(a), "a");
    std::thread second(fill, std::ref(b), "b");
    first.join();
    second.join();
    EXPECT_EQ(a.Contacts("1001").size(), IAccountStore::kMaxContacts);
    EXPECT_EQ(full.load(), 2 * kEach - IAccountStore::kMaxContacts);

    EXPECT_EQ(b.RemoveUser("1001"), EResult::Done);
    EXPECT_TRUE(a.Contacts("1001").empty());
    EXPECT_FALSE(a.FindUser("1001", p, hash));
}

// A database restart or a dropped link must not leave the server without accounts until it restarts.
TEST(PostgresStore, ABrokenConnectionIsMadeAgainByTheNextCall) {
    const std::string uri = FreshDatabase();
    CAccountStore store;
    ASSERT_TRUE(store.Open(uri, EStoreOpen::Migrate));
    ASSERT_EQ(store.AddUser(User("1001"), "pw", EHashCost::Minimal), EResult::Done);
    ASSERT_TRUE(Server().RunSql("postgres",
                                "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                " WHERE application_name = 'velaphond'"));
    CUserProfile p;
    std::string hash;
    EXPECT_TRUE(store.FindUser("1001", p, hash)) << store.LastError();
    // A transaction too, when the break comes before it starts.
    ASSERT_TRUE(Server().RunSql("postgres",
                                "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                " WHERE application_name = 'velaphond'"));
    EXPECT_EQ(store.AddContact("1001", "2", "x"), EResult::Done) << store.LastError();
}

}  // namespace
