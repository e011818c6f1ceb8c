#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "server/AccountStore.h"
#include "server/PasswordHash.h"

namespace {

namespace fs = std::filesystem;

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

TEST_F(AccountStoreTest, AccountsPersistAndExistingOnesStayUnchanged) {
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(Db(), true)) << store.LastError();
        CUserProfile ana = User("1001", "Ana");
        ana.strCountry = "ES";
        ana.strCity = "Madrid";
        EXPECT_EQ(store.AddUser(ana, "pw-ana", EHashCost::Minimal), CAccountStore::EResult::Done);
        EXPECT_EQ(store.AddUser(User("0999", "Bob"), "pw-bob", EHashCost::Minimal),
                  CAccountStore::EResult::Done);
        EXPECT_EQ(store.AddUser(User("1001", "Impostor"), "other", EHashCost::Minimal),
                  CAccountStore::EResult::Exists);
    }
    CAccountStore store;
    ASSERT_TRUE(store.Open(Db(), false));
    std::vector<CUserProfile> users = store.ListUsers();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].strNtv, "0999");  // ordered by NTV
    EXPECT_EQ(users[1].strName, "Ana");
    EXPECT_EQ(users[1].strCity, "Madrid");

    CUserProfile found;
    std::string hash;
    ASSERT_TRUE(store.FindUser("1001", found, hash));
    EXPECT_EQ(found.strName, "Ana");  // the refused add changed nothing
    EXPECT_TRUE(VerifyPassword(hash, "pw-ana"));
    EXPECT_FALSE(VerifyPassword(hash, "other"));
    EXPECT_FALSE(store.FindUser("1002", found, hash));
}

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

TEST_F(AccountStoreTest, ContactListsKeepOrderRenameInPlaceAndGoWithTheAccount) {
    CAccountStore store;
    ASSERT_TRUE(store.Open(Db(), true));
    ASSERT_EQ(store.AddUser(User("1001"), "a", EHashCost::Minimal), CAccountStore::EResult::Done);
    ASSERT_EQ(store.AddUser(User("1002"), "b", EHashCost::Minimal), CAccountStore::EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "3000", "Carla"), CAccountStore::EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "2000", "Dan"), CAccountStore::EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "3000", "Carla M."), CAccountStore::EResult::Done);
    EXPECT_EQ(store.AddContact("1002", "3000", "C"), CAccountStore::EResult::Done);
    // Unknown owners have no list to add to.
    EXPECT_EQ(store.AddContact("7777", "3000", "C"), CAccountStore::EResult::Failed);

    std::vector<CStoredContact> list = store.Contacts("1001");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].strNtv, "3000");
    EXPECT_EQ(list[0].strName, "Carla M.");
    EXPECT_EQ(list[1].strNtv, "2000");

    EXPECT_EQ(store.RemoveContact("1001", "3000"), CAccountStore::EResult::Done);
    EXPECT_EQ(store.RemoveContact("1001", "3000"), CAccountStore::EResult::NotFound);
    ASSERT_EQ(store.Contacts("1001").size(), 1u);

    EXPECT_EQ(store.RemoveUser("1001"), CAccountStore::EResult::Done);
    EXPECT_EQ(store.RemoveUser("1001"), CAccountStore::EResult::NotFound);
    EXPECT_TRUE(store.Contacts("1001").empty());
    EXPECT_EQ(store.Contacts("1002").size(), 1u);
}

TEST_F(AccountStoreTest, ContactListIsBoundedAndKeepsOddBytes) {
    CAccountStore store;
    ASSERT_TRUE(store.Open(":memory:", true));
    ASSERT_EQ(store.AddUser(User("1001"), "a", EHashCost::Minimal), CAccountStore::EResult::Done);
    for (size_t i = 0; i < CAccountStore::kMaxContacts; ++i) {
        ASSERT_EQ(store.AddContact("1001", std::to_string(100000 + i), ""), CAccountStore::EResult::Done);
    }
    EXPECT_EQ(store.AddContact("1001", "999", "one too many"), CAccountStore::EResult::Full);
    // Renaming an existing entry is still allowed at the bound.
    EXPECT_EQ(store.AddContact("1001", "100000", "renamed"), CAccountStore::EResult::Done);

    ASSERT_EQ(store.RemoveContact("1001", "100001"), CAccountStore::EResult::Done);
    const std::string latin1 = "Jos\xe9 'x\"; DROP TABLE users; --";
    EXPECT_EQ(store.AddContact("1001", "55", latin1), CAccountStore::EResult::Done);
    EXPECT_EQ(store.Contacts("1001").back().strName, latin1);
    EXPECT_EQ(store.ListUsers().size(), 1u);
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

}  // namespace
