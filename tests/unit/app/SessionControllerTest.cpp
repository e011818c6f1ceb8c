// The session controller where no server is needed: what it does without connection data, the first
// timer tick of dynamic mode, the contact operations and the timers it offers the call logic.
#include <gtest/gtest.h>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "platform/Messages.h"

namespace {

class CQuietWindow : public ISessionWindow {
public:
    void OnSessionState(char s) override { states.push_back(s); }
    void OnUserInfo(const SSessionUserInfo&) override {}
    bool ShowNotice(UINT id, const std::string& text, bool) override {
        notices.push_back(id);
        texts.push_back(text);
        return true;
    }
    void PlaySound(UINT) override {}
    void ShowPopup(const std::string&) override {}
    void CloseWindow() override {}
    void OnConnecting(int) override { ++connecting; }
    void OnContactAdded(const SContactRecord& c) override { added.push_back(c.m_strNtv); }
    void OnContactRemoved(const std::string& ntv) override { removed.push_back(ntv); }

    std::vector<char> states;
    std::vector<UINT> notices;
    std::vector<std::string> texts;
    int connecting = 0;
    std::vector<std::string> added, removed;
};

class CHooks : public ISessionCallHooks {
public:
    void OnCallRecord(const uint8_t*, size_t) override {}
    void OnVideoRecord(const uint8_t*, size_t) override {}
    void OnChannelReceived(uint8_t) override {}
    void OnCallTimeout() override { ++timeouts; }
    void PlaceCall(const std::string& ntv) override { placed.push_back(ntv); }
    int timeouts = 0;
    std::vector<std::string> placed;
};

TEST(SessionController, NoAttemptWithoutServerNtvAndPassword) {
    SetStringLanguage(LANG_ENGLISH_US);
    for (int missing = 0; missing < 3; ++missing) {
        CClientApp app;
        app.Settings().SetUser(missing == 0 ? "" : "1001", missing == 1 ? "" : "pw");
        app.Settings().SetServer(missing == 2 ? "" : "127.0.0.1", 443);
        CQuietWindow window;
        CSessionController session(app, window);
        session.Start();
        PumpMessagesUntil([] { return false; }, 50);
        EXPECT_EQ(session.ConnectionAttempts(), 1);  // the procedure ran ...
        EXPECT_EQ(window.connecting, 0);             // ... but started nothing
        EXPECT_EQ(session.State(), 'D');
        EXPECT_TRUE(window.states.empty());
    }
}

TEST(SessionController, DynamicModePlacesTheCallAtTheFirstTickOnly) {
    CClientApp app;
    app.SetLaunchState(false, true, "5550002");
    CQuietWindow window;
    CHooks hooks;
    CSessionController session(app, window);
    session.SetCallHooks(&hooks);
    session.Start();
    app.Settings().SetStatus('C');  // logged in before the tick (a later login is the scripted tests')
    ASSERT_TRUE(PumpMessagesUntil([&] { return !hooks.placed.empty(); }, 5000));
    EXPECT_EQ(hooks.placed, std::vector<std::string>{"5550002"});
    EXPECT_EQ(session.m_strCalledNtv, "5550002");
    // Timer 1 stopped itself; later timers do not place the call again.
    session.StartCallTimeout();
    session.StopCallTimeout();
    PumpMessagesUntil([] { return false; }, 1300);
    EXPECT_EQ(hooks.placed.size(), 1u);
    EXPECT_EQ(hooks.timeouts, 0);
}

TEST(SessionController, NormalModePlacesNoCall) {
    CClientApp app;
    CQuietWindow window;
    CHooks hooks;
    CSessionController session(app, window);
    session.SetCallHooks(&hooks);
    session.Start();
    PumpMessagesUntil([] { return false; }, 1200);
    EXPECT_TRUE(hooks.placed.empty());
    EXPECT_TRUE(session.m_strCalledNtv.empty());
}

TEST(SessionController, AddAndRemoveContacts) {
    SetStringLanguage(LANG_ENGLISH_US);
    CClientApp app;
    CQuietWindow window;
    CSessionController session(app, window);
    EXPECT_EQ(session.AddContact("", "nobody"), CSessionController::EAddContact::EmptyNtv);
    EXPECT_EQ(session.AddContact("1002", "Bea"), CSessionController::EAddContact::Added);
    EXPECT_EQ(session.AddContact("1002", "Bea again"), CSessionController::EAddContact::AlreadyListed);
    EXPECT_EQ(window.notices, std::vector<UINT>{IDS_NTV_IN_CONTACTS});
    EXPECT_EQ(window.texts, std::vector<std::string>{"The NTV 1002 is already in contact list"});
    EXPECT_EQ(app.Contacts().size(), 1u);
    EXPECT_EQ(app.Contacts()[0].m_cStatus, 0);
    // Both operations queue their record for the server.
    EXPECT_EQ(session.Control().SendCount(), 1);
    EXPECT_TRUE(session.RemoveContact("1002"));
    EXPECT_FALSE(session.RemoveContact("1002"));
    EXPECT_EQ(session.Control().SendCount(), 2);
    EXPECT_EQ(window.added, std::vector<std::string>{"1002"});
    EXPECT_EQ(window.removed, std::vector<std::string>{"1002"});
    EXPECT_TRUE(app.Contacts().empty());
}

TEST(SessionController, StatusBoxSendsNothingWhileDisconnected) {
    CClientApp app;
    CQuietWindow window;
    CSessionController session(app, window);
    session.SetAway(true);
    EXPECT_TRUE(session.IsAway());
    EXPECT_EQ(session.Control().SendCount(), 0);
}

}  // namespace
