// The contact list as the session keeps it: entries from the server, local additions, status letters and
// which changes the pop-up announces.
#include <gtest/gtest.h>

#include "app/ContactList.h"

namespace {

TEST(ContactList, ServerEntriesStartDisconnectedAndAreNotDuplicated) {
    CContactList list;
    EXPECT_TRUE(list.AddFromServer("1001", "Ana"));
    EXPECT_TRUE(list.AddFromServer("1002", ""));
    EXPECT_FALSE(list.AddFromServer("1001", "Ana again"));
    EXPECT_FALSE(list.AddFromServer("", "nobody"));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].m_cStatus, 'D');
    EXPECT_EQ(list[0].m_strNickname, "Ana");
    EXPECT_EQ(list[1].Shown(), "1002");  // no nickname: the NTV is shown

    EXPECT_FALSE(list.Add("1002", "dup"));
    EXPECT_FALSE(list.Add("", "empty"));
    EXPECT_TRUE(list.Add("1003", "Eva"));
    EXPECT_EQ(list.Find("1003")->m_cStatus, 0);  // added locally: no letter yet

    EXPECT_TRUE(list.Remove("1001"));
    EXPECT_FALSE(list.Remove("1001"));
    EXPECT_EQ(list[0].m_strNtv, "1002");  // order kept
    list.Clear();
    EXPECT_TRUE(list.empty());
}

TEST(ContactList, OnlyChangesBetweenDisconnectedAndReadyAreAnnounced) {
    CContactList list;
    list.AddFromServer("1001", "Ana");
    char before = '?';
    EXPECT_EQ(list.UpdateStatus("1001", 'D', &before), EStatusChange::None);  // same letter
    EXPECT_EQ(before, '?');
    EXPECT_EQ(list.UpdateStatus("1001", 'C', &before), EStatusChange::BecameReady);
    EXPECT_EQ(before, 'D');
    EXPECT_EQ(list.UpdateStatus("1001", 'A'), EStatusChange::Changed);
    EXPECT_EQ(list.UpdateStatus("1001", 'C'), EStatusChange::Changed);  // from away: no pop-up
    EXPECT_EQ(list.UpdateStatus("1001", 'D'), EStatusChange::BecameDisconnected);
    EXPECT_EQ(list.UpdateStatus("1001", 'B'), EStatusChange::Changed);  // any letter is stored
    EXPECT_EQ(list.Find("1001")->m_cStatus, 'B');
    EXPECT_EQ(list.UpdateStatus("9999", 'C'), EStatusChange::None);

    list.Add("1002", "");
    EXPECT_EQ(list.UpdateStatus("1002", 'C', &before), EStatusChange::Changed);  // from no letter
    EXPECT_EQ(before, 0);
}

}  // namespace
