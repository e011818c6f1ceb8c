// What every accounts back end must do alike, as type-parameterised tests: test_server instantiates them
// on SQLite, test_cluster on a private PostgreSQL. TBackEnd::FreshLocation() names a new, empty database
// that a second store may open too.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "server/AccountStore.h"
#include "server/PasswordHash.h"

template <class TBackEnd>
class AccountStoreContract : public ::testing::Test {
protected:
    using EResult = IAccountStore::EResult;

    void SetUp() override {
        m_strLocation = TBackEnd::FreshLocation();
        ASSERT_FALSE(m_strLocation.empty());
        ASSERT_TRUE(m_store.Open(m_strLocation, EStoreOpen::Migrate)) << m_store.LastError();
    }

    static CUserProfile User(const std::string& ntv, const std::string& name = "") {
        CUserProfile p;
        p.strNtv = ntv;
        p.strName = name;
        return p;
    }

    std::string m_strLocation;
    CAccountStore m_store;
};

TYPED_TEST_SUITE_P(AccountStoreContract);

TYPED_TEST_P(AccountStoreContract, AccountsAreFoundListedByNtvBytesAndNeverReplaced) {
    using EResult = IAccountStore::EResult;
    CAccountStore& store = this->m_store;
    EXPECT_EQ(store.FoundSchemaVersion(), 0);  // created by the open
    CUserProfile ana = this->User("1001", "Jos\xe9 'x\"; DROP TABLE users; --");
    ana.strCountry = "ES";
    ana.strCity = "M\xc3\xa1laga";
    ana.strGender = "F";
    ana.strLanguage = "ES";
    ana.strKeywords = "tenis, f\xfatbol";
    EXPECT_EQ(store.AddUser(ana, "pw-ana", EHashCost::Minimal), EResult::Done);
    EXPECT_EQ(store.AddUser(this->User("10", "Ten"), "pw-ten", EHashCost::Minimal), EResult::Done);
    EXPECT_EQ(store.AddUser(this->User("0999", "Bob"), "pw-bob", EHashCost::Minimal), EResult::Done);
    EXPECT_EQ(store.AddUser(this->User("1001", "Impostor"), "other", EHashCost::Minimal), EResult::Exists);

    std::vector<CUserProfile> users = store.ListUsers();
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].strNtv, "0999");
    EXPECT_EQ(users[1].strNtv, "10");
    EXPECT_EQ(users[2].strNtv, "1001");
    EXPECT_EQ(users[2].strName, ana.strName);
    EXPECT_EQ(users[2].strCity, ana.strCity);
    EXPECT_EQ(users[2].strKeywords, ana.strKeywords);

    CUserProfile found;
    std::string hash;
    ASSERT_TRUE(store.FindUser("1001", found, hash));
    EXPECT_EQ(found.strName, ana.strName);  // the refused add changed nothing
    EXPECT_EQ(found.strCountry, "ES");
    EXPECT_EQ(found.strGender, "F");
    EXPECT_EQ(found.strLanguage, "ES");
    EXPECT_TRUE(VerifyPassword(hash, "pw-ana"));
    EXPECT_FALSE(VerifyPassword(hash, "other"));
    EXPECT_FALSE(store.FindUser("1002", found, hash));
    EXPECT_FALSE(store.FindUser("", found, hash));

    EXPECT_EQ(store.RemoveUser("10"), EResult::Done);
    EXPECT_EQ(store.RemoveUser("10"), EResult::NotFound);
    EXPECT_EQ(store.ListUsers().size(), 2u);

    // Another open of the same database sees the current schema and the same accounts.
    CAccountStore again;
    ASSERT_TRUE(again.Open(this->m_strLocation, EStoreOpen::Use)) << again.LastError();
    EXPECT_EQ(again.FoundSchemaVersion(), kAccountSchemaVersion);
    EXPECT_EQ(again.ListUsers().size(), 2u);
}

TYPED_TEST_P(AccountStoreContract, ContactListsKeepOrderRenameInPlaceAndGoWithTheAccount) {
    using EResult = IAccountStore::EResult;
    CAccountStore& store = this->m_store;
    ASSERT_EQ(store.AddUser(this->User("1001"), "a", EHashCost::Minimal), EResult::Done);
    ASSERT_EQ(store.AddUser(this->User("1002"), "b", EHashCost::Minimal), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "3000", "Carla"), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "2000", "Dan"), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "9", "Eva \xe9"), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "3000", "Carla M."), EResult::Done);
    EXPECT_EQ(store.AddContact("1002", "3000", "C"), EResult::Done);
    // Unknown owners have no list to add to.
    EXPECT_EQ(store.AddContact("7777", "3000", "C"), EResult::Failed);
    EXPECT_TRUE(store.Contacts("7777").empty());

    std::vector<CStoredContact> list = store.Contacts("1001");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].strNtv, "3000");
    EXPECT_EQ(list[0].strName, "Carla M.");
    EXPECT_EQ(list[1].strNtv, "2000");
    EXPECT_EQ(list[2].strName, "Eva \xe9");

    // Removing the last entry and adding again still puts the new one last.
    EXPECT_EQ(store.RemoveContact("1001", "9"), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "8", ""), EResult::Done);
    EXPECT_EQ(store.RemoveContact("1001", "3000"), EResult::Done);
    EXPECT_EQ(store.RemoveContact("1001", "3000"), EResult::NotFound);
    EXPECT_EQ(store.AddContact("1001", "3000", "back"), EResult::Done);
    list = store.Contacts("1001");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].strNtv, "2000");
    EXPECT_EQ(list[1].strNtv, "8");
    EXPECT_EQ(list[2].strNtv, "3000");

    EXPECT_EQ(store.RemoveUser("1001"), EResult::Done);
    EXPECT_TRUE(store.Contacts("1001").empty());
    EXPECT_EQ(store.Contacts("1002").size(), 1u);
    // The account comes back with an empty list.
    ASSERT_EQ(store.AddUser(this->User("1001"), "a", EHashCost::Minimal), EResult::Done);
    EXPECT_TRUE(store.Contacts("1001").empty());
}

TYPED_TEST_P(AccountStoreContract, ContactListIsBoundedButRenamingStaysAllowed) {
    using EResult = IAccountStore::EResult;
    CAccountStore& store = this->m_store;
    ASSERT_EQ(store.AddUser(this->User("1001"), "a", EHashCost::Minimal), EResult::Done);
    for (size_t i = 0; i < IAccountStore::kMaxContacts; ++i)
        ASSERT_EQ(store.AddContact("1001", std::to_string(100000 + i), ""), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "999", "one too many"), EResult::Full);
    EXPECT_EQ(store.AddContact("1001", "100000", "renamed"), EResult::Done);
    std::vector<CStoredContact> list = store.Contacts("1001");
    ASSERT_EQ(list.size(), IAccountStore::kMaxContacts);
    EXPECT_EQ(list.front().strName, "renamed");
    EXPECT_EQ(list.back().strNtv, std::to_string(100000 + IAccountStore::kMaxContacts - 1));
    ASSERT_EQ(store.RemoveContact("1001", "100001"), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "55", ""), EResult::Done);
    EXPECT_EQ(store.AddContact("1001", "56", ""), EResult::Full);
}

// The server's protocol thread, its web pages and its password checks share one store.
TYPED_TEST_P(AccountStoreContract, ThreadsSharingTheStoreLoseNothing) {
    using EResult = IAccountStore::EResult;
    CAccountStore& store = this->m_store;
    constexpr int kThreads = 4;
    constexpr int kEach = 40;
    for (int t = 0; t < kThreads; ++t)
        ASSERT_EQ(store.AddUser(this->User(std::to_string(1000 + t)), "p", EHashCost::Minimal),
                  EResult::Done);
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads + 1, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string owner = std::to_string(1000 + t);
            for (int i = 0; i < kEach; ++i) {
                failures[t] += store.AddContact(owner, std::to_string(i), "n") != EResult::Done;
                failures[t] += store.AddContact("1000", owner + "-" + std::to_string(i), "") != EResult::Done;
            }
        });
    }
    threads.emplace_back([&] {
        CUserProfile p;
        std::string hash;
        for (int i = 0; i < kEach; ++i) {
            failures[kThreads] += store.ListUsers().size() != static_cast<size_t>(kThreads);
            failures[kThreads] += !store.FindUser("1001", p, hash);
        }
    });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads + 1, 0));
    for (int t = 1; t < kThreads; ++t) {
        std::vector<CStoredContact> list = store.Contacts(std::to_string(1000 + t));
        ASSERT_EQ(list.size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(list[static_cast<size_t>(i)].strNtv, std::to_string(i));
    }
    // Owner 1000's own adds and the others' interleave, but each thread's keep their order.
    std::vector<CStoredContact> shared = store.Contacts("1000");
    EXPECT_EQ(shared.size(), static_cast<size_t>(kEach * (kThreads + 1)));
    std::vector<int> next(kThreads + 1, 0);
    for (const CStoredContact& c : shared) {
        size_t dash = c.strNtv.find('-');
        size_t t = dash == std::string::npos ? kThreads : std::stoul(c.strNtv.substr(0, dash)) - 1000;
        ASSERT_LE(t, static_cast<size_t>(kThreads));
        EXPECT_EQ(std::stoi(c.strNtv.substr(dash == std::string::npos ? 0 : dash + 1)), next[t]++);
    }
}

REGISTER_TYPED_TEST_SUITE_P(AccountStoreContract, AccountsAreFoundListedByNtvBytesAndNeverReplaced,
                            ContactListsKeepOrderRenameInPlaceAndGoWithTheAccount,
                            ContactListIsBoundedButRenamingStaysAllowed, ThreadsSharingTheStoreLoseNothing);
