#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/AccountStore.h"
#include "server/PasswordHash.h"
#include "unit/server/AccountStoreContract.h"

namespace {

namespace fs = std::filesystem;

// Each database a file of its own in one folder per test program, as the server keeps it.
struct SSqliteBackEnd {
    static std::string FreshLocation() {
        static struct SFolder {
            fs::path path = fs::temp_directory_path() / ("vp_store_contract_" + std::to_string(getpid()));
            SFolder() { fs::create_directories(path); }
            ~SFolder() { fs::remove_all(path); }
        } folder;
        static int count = 0;
        return (folder.path / ("accounts" + std::to_string(++count) + ".db")).string();
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, AccountStoreContract, SSqliteBackEnd);

// One SQL script run straight on the file, as another program (or an older velaphond) would.
void RunSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

class AccountStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("vp_store_" + std::to_string(getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Db() const { return (m_dir / "accounts.db").string(); }

    static CUserProfile User(const std::string& ntv, const std::string& name = "") {
        CUserProfile p;
        p.strNtv = ntv;
        p.strName = name;
        return p;
    }

    fs::path m_dir;
};

TEST_F(AccountStoreTest, PasswordsAreStoredOnlyAsSaltedHashes) {
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(Db(), true));
        ASSERT_EQ(store.AddUser(User("1001"), "UniqueSecret42", EHashCost::Interactive),
                  CAccountStore::EResult::Done);
        ASSERT_EQ(store.AddUser(User("1002"), "UniqueSecret42", EHashCost::Minimal),
                  CAccountStore::EResult::Done);
        CUserProfile p;
        std::string h1, h2;
        ASSERT_TRUE(store.FindUser("1001", p, h1));
        ASSERT_TRUE(store.FindUser("1002", p, h2));
        EXPECT_NE(h1, h2);  // salted: the same password never gives the same text
        EXPECT_EQ(h1.rfind("$argon2id$", 0), 0u);
        EXPECT_TRUE(VerifyPassword(h1, "UniqueSecret42"));
        EXPECT_TRUE(VerifyPassword(h2, "UniqueSecret42"));
    }
    // Nothing on disk holds the clear password (database and its journal files).
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes.find("UniqueSecret42"), std::string::npos) << entry.path();
    }
    EXPECT_FALSE(VerifyPassword("", "x"));
    EXPECT_FALSE(VerifyPassword("not a hash", "x"));
}

TEST_F(AccountStoreTest, RefusesWhatIsNotADatabase) {
    CAccountStore store;
    EXPECT_FALSE(store.Open(Db(), false));  // missing and not to be created
    EXPECT_FALSE(fs::exists(Db()));
    std::ofstream(Db()) << "this is not a database, just some text long enough to look like a header....";
    EXPECT_FALSE(store.Open(Db(), true));
    EXPECT_FALSE(store.LastError().empty());
    EXPECT_TRUE(store.ListUsers().empty());
    EXPECT_EQ(store.AddUser(User("1"), "p", EHashCost::Minimal), CAccountStore::EResult::Failed);
}

// Files made before the version table existed are version 1: both migrate and a plain open (which
// `serve` and the `user` commands do) upgrade them in place.
TEST_F(AccountStoreTest, AVersionOneFileUpgradesKeepingAccountsAndContactOrder) {
    std::string hash;
    ASSERT_TRUE(HashPassword("pw-ana", EHashCost::Minimal, hash));
    for (EStoreOpen mode : {EStoreOpen::Migrate, EStoreOpen::Use}) {
        SCOPED_TRACE(static_cast<int>(mode));
        fs::remove(Db());
        RunSql(
            Db(),
            ("CREATE TABLE users(ntv TEXT PRIMARY KEY NOT NULL, password_hash TEXT NOT NULL,"
             " name TEXT NOT NULL DEFAULT '', country TEXT NOT NULL DEFAULT '', city TEXT NOT NULL DEFAULT "
             "'',"
             " gender TEXT NOT NULL DEFAULT '', language TEXT NOT NULL DEFAULT '',"
             " keywords TEXT NOT NULL DEFAULT '');"
             "CREATE TABLE contacts(owner TEXT NOT NULL REFERENCES users(ntv) ON DELETE CASCADE,"
             " ntv TEXT NOT NULL, name TEXT NOT NULL DEFAULT '', PRIMARY KEY(owner, ntv));"
             "INSERT INTO users(ntv, password_hash, name, city) VALUES('1001', '" +
             hash +
             "', 'Ana', 'Vigo');"
             "INSERT INTO users(ntv, password_hash) VALUES('1002', '" +
             hash +
             "');"
             "INSERT INTO contacts VALUES('1001', '30', 'C'), ('1001', '20', 'B'), ('1002', '1001', 'Ana');"
             "INSERT INTO contacts VALUES('1001', '10', 'A');")
                .c_str());
        CAccountStore store;
        ASSERT_TRUE(store.Open(Db(), mode)) << store.LastError();
        EXPECT_EQ(store.FoundSchemaVersion(), 1);
        CUserProfile ana;
        std::string stored;
        ASSERT_TRUE(store.FindUser("1001", ana, stored));
        EXPECT_EQ(ana.strCity, "Vigo");
        EXPECT_TRUE(VerifyPassword(stored, "pw-ana"));
        EXPECT_EQ(store.AddContact("1001", "5", "E"), CAccountStore::EResult::Done);
        EXPECT_EQ(store.AddContact("1001", "20", "B2"), CAccountStore::EResult::Done);
        std::vector<std::string> order;
        for (const CStoredContact& c : store.Contacts("1001"))
            order.push_back(c.strNtv + " " + c.strName);
        EXPECT_EQ(order, (std::vector<std::string>{"30 C", "20 B2", "10 A", "5 E"}));
        EXPECT_EQ(store.Contacts("1002").size(), 1u);

        CAccountStore again;
        ASSERT_TRUE(again.Open(Db(), EStoreOpen::Use));
        EXPECT_EQ(again.FoundSchemaVersion(), kAccountSchemaVersion);
        EXPECT_EQ(again.ListUsers().size(), 2u);
    }
}

TEST_F(AccountStoreTest, ASchemaNewerThanKnownIsRefusedAndLeftAlone) {
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(Db(), EStoreOpen::Create));
        ASSERT_EQ(store.AddUser(User("1001"), "a", EHashCost::Minimal), CAccountStore::EResult::Done);
    }
    RunSql(Db(), "UPDATE schema_version SET version = 3;");
    for (EStoreOpen mode : {EStoreOpen::Use, EStoreOpen::Create, EStoreOpen::Migrate}) {
        CAccountStore store;
        EXPECT_FALSE(store.Open(Db(), mode));
        EXPECT_NE(store.LastError().find("version 3, newer than this velaphond knows"), std::string::npos)
            << store.LastError();
        EXPECT_TRUE(store.ListUsers().empty());
    }
    RunSql(Db(), "UPDATE schema_version SET version = 2;");
    CAccountStore store;
    ASSERT_TRUE(store.Open(Db(), EStoreOpen::Use));
    EXPECT_EQ(store.ListUsers().size(), 1u);
}

TEST(AccountStoreLocation, PostgresUrisAreRecognisedAndTheirPasswordsNeverShown) {
    EXPECT_TRUE(IsPostgresLocation("postgresql://db.example.org/velaphon"));
    EXPECT_TRUE(IsPostgresLocation("postgres:///velaphon?host=/run/pg"));
    EXPECT_FALSE(IsPostgresLocation("/var/lib/velaphon/accounts.db"));
    EXPECT_FALSE(IsPostgresLocation("postgresql.db"));
    EXPECT_EQ(DisplayLocation("accounts.db"), "accounts.db");
    EXPECT_EQ(DisplayLocation("postgresql://vp:s3cret@db:5432/velaphon?sslmode=require"),
              "postgresql://vp:***@db:5432/velaphon?sslmode=require");
    EXPECT_EQ(DisplayLocation("postgresql://vp@db/velaphon?password=s3cret&sslmode=require"),
              "postgresql://vp@db/velaphon?password=***&sslmode=require");
    EXPECT_EQ(DisplayLocation("postgresql://vp:a@b@db/x?host=h&password=p"),
              "postgresql://vp:***@db/x?host=h&password=***");
    EXPECT_EQ(DisplayLocation("postgresql://db/x?mypassword=1"), "postgresql://db/x?mypassword=1");
}

}  // namespace
