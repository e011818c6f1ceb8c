// The Connection page's account editing rules, without the page.
#include <gtest/gtest.h>

#include "app/AccountsEditor.h"

namespace {

Account Make(const std::string& ntv, const std::string& server, int isDefault = 0) {
    return Account{ntv, "pw-" + ntv, server, isDefault};
}

std::vector<int> Defaults(const CAccountsEditor& e) {
    std::vector<int> flags;
    for (const Account& a : e.Accounts())
        flags.push_back(a.m_nDefault);
    return flags;
}

}  // namespace

TEST(AccountsEditor, TheFirstAccountOfAnEmptyListBecomesTheDefaultAndAPairIsListedOnce) {
    CAccountsEditor e;
    // Whatever flag the dialog handed over, the list decides.
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Append(Make("1001", "vp.example.org", 0)));
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Append(Make("1002", "vp.example.org", 1)));
    // The same NTV on another server is another connection.
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Append(Make("1001", "other.example.org")));
    EXPECT_EQ((std::vector<int>{1, 0, 0}), Defaults(e));
    // The same pair again, in any letter case of the host: message 144, nothing added.
    EXPECT_EQ(CAccountsEditor::EResult::AlreadyListed, e.Append(Make("1001", "VP.Example.org")));
    EXPECT_EQ(3u, e.Accounts().size());
    EXPECT_FALSE(e.HasSelection());  // appending selects nothing

    // Modify may not make a second line for a listed pair either, but may keep its own.
    e.Select(1);
    EXPECT_EQ(CAccountsEditor::EResult::AlreadyListed, e.Modify("1001", "x", "vp.example.org"));
    EXPECT_EQ("1002", e.Accounts()[1].m_strNtv);
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Modify("1002", "new-pw", "vp.example.org"));
    EXPECT_EQ((Account{"1002", "new-pw", "vp.example.org", 0}), e.Accounts()[1]);
}

TEST(AccountsEditor, DeletingTheDefaultMakesTheFirstRemainingOneTheSelectedDefault) {
    CAccountsEditor e({Make("1001", "a"), Make("1002", "b", 1), Make("1003", "c")});
    e.Select(1);
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Delete());
    EXPECT_EQ((std::vector<int>{1, 0}), Defaults(e));
    EXPECT_EQ(0, e.Selected());

    // Deleting another account leaves the default where it is and nothing selected.
    e.Select(1);
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Delete());
    EXPECT_EQ((std::vector<int>{1}), Defaults(e));
    EXPECT_FALSE(e.HasSelection());

    // The last one goes: an empty list, nothing selected.
    e.Select(0);
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Delete());
    EXPECT_TRUE(e.Accounts().empty());
    EXPECT_FALSE(e.HasSelection());
}

TEST(AccountsEditor, ActivateLeavesOneDefaultAndNothingHappensWithoutASelection) {
    CAccountsEditor e({Make("1001", "a", 1), Make("1002", "b"), Make("1003", "c", 1)});
    const CAccountList before = e.Accounts();
    EXPECT_EQ(CAccountsEditor::EResult::NoSelection, e.Activate());
    EXPECT_EQ(CAccountsEditor::EResult::NoSelection, e.Modify("9", "9", "9"));
    EXPECT_EQ(CAccountsEditor::EResult::NoSelection, e.Delete());
    e.Select(7);  // outside the list: no selection
    EXPECT_EQ(CAccountsEditor::EResult::NoSelection, e.Delete());
    EXPECT_EQ(before, e.Accounts());

    e.Select(1);
    EXPECT_EQ(CAccountsEditor::EResult::Done, e.Activate());
    EXPECT_EQ((std::vector<int>{0, 1, 0}), Defaults(e));
}
