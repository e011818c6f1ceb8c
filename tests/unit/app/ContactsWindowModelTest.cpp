// What the contacts window shows and allows, without a display: lines and icons, the selection rules,
// find, and operations that follow the selected NTV when the list is refilled beneath them.
#include <gtest/gtest.h>

#include "app/ClientApp.h"
#include "app/ContactsWindowModel.h"
#include "app/SessionController.h"

namespace {

class CQuietWindow : public ISessionWindow {
public:
    void OnSessionState(char) override {}
    void OnUserInfo(const SSessionUserInfo&) override {}
    bool ShowNotice(UINT id, const std::string&, bool) override {
        notices.push_back(id);
        return true;
    }
    void PlaySound(UINT) override {}
    void ShowPopup(const std::string&) override {}
    void CloseWindow() override {}
    std::vector<UINT> notices;
};

class ContactsWindowModel : public ::testing::Test {
protected:
    void SetUp() override {
        SetStringLanguage(LANG_ENGLISH_US);
        m_app.Settings().SetStatus('C');
        Fill({{"1001", "Ángela"}, {"1002", ""}, {"1003", "angel"}, {"1004", "Bea"}});
    }
    void Fill(const std::vector<std::pair<std::string, std::string>>& entries) {
        m_app.Contacts().Clear();
        for (const auto& [ntv, nick] : entries)
            m_app.Contacts().AddFromServer(ntv, nick);
    }
    CClientApp m_app;
    CQuietWindow m_window;
    CSessionController m_session{m_app, m_window};
};

TEST_F(ContactsWindowModel, LinesFollowTheListWithTheirIconsAndTips) {
    EXPECT_EQ(ContactIcon('C'), kIconReady);
    EXPECT_EQ(ContactIcon('A'), kIconBusy);
    EXPECT_EQ(ContactIcon('B'), kIconBusy);
    for (char other : {'D', '\0', 'X'})
        EXPECT_EQ(ContactIcon(other), kIconDisconnected) << int(other);

    m_app.Contacts().UpdateStatus("1004", 'A');
    CContactsWindowModel model(m_session);
    ASSERT_EQ(model.Lines().size(), 4u);
    EXPECT_EQ(model.Lines()[0].m_strText, "Ángela");
    EXPECT_EQ(model.Lines()[1].m_strText, "1002");  // no nickname: the NTV
    EXPECT_EQ(model.Lines()[0].m_strTip, "Contact :[Ángela]    --   NTV :[ 1001]");
    EXPECT_EQ(model.Lines()[3].m_nIcon, kIconBusy);

    // Away to ready changes the icon (the pop-up is the session's business, and it stays silent).
    EXPECT_EQ(m_app.Contacts().UpdateStatus("1004", 'C'), EStatusChange::Changed);
    model.Rebuild();
    EXPECT_EQ(model.Lines()[3].m_nIcon, kIconReady);
}

TEST_F(ContactsWindowModel, SelectionDecidesWhatTheButtonsMayDo) {
    CContactsWindowModel model(m_session);
    EXPECT_FALSE(model.CanDelete() || model.CanEdit() || model.CanCall());
    EXPECT_TRUE(model.CallTarget().empty());

    ASSERT_TRUE(model.Select("1002"));  // disconnected
    EXPECT_TRUE(model.CanDelete() && model.CanEdit());
    EXPECT_FALSE(model.CanCall());
    // A status reply makes it callable before the window rebuilds its lines.
    m_app.Contacts().UpdateStatus("1002", 'C');
    EXPECT_TRUE(model.CanCall());
    EXPECT_EQ(model.CallTarget(), "1002");
    m_app.Contacts().UpdateStatus("1002", 'A');
    EXPECT_FALSE(model.CanCall());

    // Without a session nothing can be called or changed.
    m_app.Contacts().UpdateStatus("1002", 'C');
    m_app.Settings().SetStatus('D');
    EXPECT_FALSE(model.CanCall() || model.CanDelete() || model.CanChangeList());
    EXPECT_FALSE(model.DeleteSelected());
    EXPECT_EQ(m_app.Contacts().size(), 4u);

    EXPECT_FALSE(model.Select("9999"));
    EXPECT_EQ(model.SelectedIndex(), -1);
}

TEST_F(ContactsWindowModel, FindSelectsTheFirstLineBeginningWithTheText) {
    CContactsWindowModel model(m_session);
    EXPECT_EQ(model.Find("ÁN"), 0);   // Latin-1 capitals and small letters are one
    EXPECT_EQ(model.Find("ang"), 2);  // "Ángela" has no plain "a"
    EXPECT_EQ(model.SelectedNtv(), "1003");
    EXPECT_EQ(model.Find("BEA"), 3);
    EXPECT_EQ(model.Find("100"), 1);   // a line without nickname is found by its NTV
    EXPECT_EQ(model.Find("gel"), -1);  // a prefix, not anywhere in the text
    EXPECT_EQ(model.Find(""), -1);
    EXPECT_EQ(model.SelectedNtv(), "1002");  // unchanged by a failed find
    EXPECT_FALSE(StartsWithNoCase("Bea", "Beatriz"));
}

TEST_F(ContactsWindowModel, OperationsFollowTheSelectedNtvAcrossARefill) {
    CContactsWindowModel model(m_session);
    ASSERT_TRUE(model.Select("1003"));
    ASSERT_EQ(model.SelectedIndex(), 2);

    // A new login refills the list in another order: the selection moves with its NTV.
    Fill({{"1004", "Bea"}, {"1003", "angel"}, {"1001", "Ángela"}});
    model.Rebuild();
    EXPECT_EQ(model.SelectedIndex(), 1);
    const int sent = m_session.Control().SendCount();
    EXPECT_TRUE(model.RenameSelected("Angel R."));
    // Same place, same letter; the server's entry goes and comes back under the new name.
    EXPECT_EQ(m_app.Contacts()[1].m_strNtv, "1003");
    EXPECT_EQ(m_app.Contacts()[1].m_strNickname, "Angel R.");
    EXPECT_EQ(model.Lines()[1].m_strText, "Angel R.");
    EXPECT_EQ(m_session.Control().SendCount(), sent + 2);

    EXPECT_TRUE(model.DeleteSelected());
    EXPECT_EQ(m_app.Contacts().Find("1003"), nullptr);
    EXPECT_EQ(m_app.Contacts().size(), 2u);
    EXPECT_EQ(model.SelectedIndex(), -1);

    // The selected contact is gone after a refill: nothing else is touched.
    ASSERT_TRUE(model.Select("1004"));
    Fill({{"1001", "Ángela"}, {"1005", "Eva"}});
    model.Rebuild();
    EXPECT_TRUE(model.SelectedNtv().empty());
    EXPECT_FALSE(model.DeleteSelected());
    EXPECT_FALSE(model.RenameSelected("x"));
    EXPECT_EQ(m_app.Contacts().size(), 2u);
    EXPECT_EQ(m_app.Contacts()[0].m_strNickname, "Ángela");
}

TEST_F(ContactsWindowModel, NewContactsAreRefusedWhenListedOrWithoutNtv) {
    EXPECT_EQ(AddNewContact(m_session, "", "nobody"), ENewContact::EmptyNtv);
    EXPECT_EQ(AddNewContact(m_session, "1002", "again"), ENewContact::Exists);
    EXPECT_TRUE(m_window.notices.empty());  // the caller shows notice 140, not 129 as well
    EXPECT_EQ(AddNewContact(m_session, "1009", "Nuevo"), ENewContact::Added);
    EXPECT_EQ(m_app.Contacts()[4].m_strNtv, "1009");
    EXPECT_EQ(m_app.Contacts()[4].m_cStatus, 0);
}

TEST(FitUtf8, CutsOnlyBetweenCharacters) {
    EXPECT_EQ(FitUtf8("abc", 3), "abc");
    EXPECT_EQ(FitUtf8("abcd", 3), "abc");
    // "ñ" is two bytes: a cut through it drops it whole.
    EXPECT_EQ(FitUtf8("aññ", 4), "añ");
    EXPECT_EQ(FitUtf8("añ", 2), "a");
    EXPECT_EQ(FitUtf8(std::string(300, 'x'), 255).size(), 255u);
}

}  // namespace
