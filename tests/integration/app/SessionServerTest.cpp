// The session controller against a real velaphond: login, contacts and their presence, refusals with the
// account walk, the newer-version notice, the own status as others see it, a lost server, the retries
// while there is none, and the login through a real HTTP proxy.
#include <gtest/gtest.h>

#include "integration/app/SessionHarness.h"
#include "support/TinyProxy.h"

namespace {

using namespace sessiontest;

const std::vector<SUser> kUsers = {
    {"1001", "pw-ana", "Ana Gil", {{"1002", "Bea"}, {"1003", "Carl"}}},
    {"1002", "pw-bea", "Bea Ruiz", {{"1001", "Ana"}}},
    {"1003", "pw-carl", "", {}},
};

struct SServerFixture : SSeededServer {
    explicit SServerFixture(const std::string& address, std::vector<std::string> extra = {})
        : SSeededServer(address, kUsers, std::move(extra)) {}
};

// A separate observer speaking raw frames: asks the server for one NTV's letter.
char QueryStatus(servertest::CTestClient& observer, const std::string& ntv) {
    if (!observer.Control(BuildContactStatusQuery(ntv)))
        return 0;
    for (;;) {
        Bytes r = observer.ReceiveControl(10000);
        if (r.empty())
            return 0;
        SContactStatus s;
        if (r[0] == MSG_CONTACT_STATUS && ParseContactStatus(r.data(), r.size(), s) && s.ntv == ntv)
            return s.status;
    }
}

TEST(SessionWithServer, LogsInFollowsContactsAndAnnouncesOnlyReadyAndGone) {
    SServerFixture f("127.0.0.100");
    ASSERT_TRUE(f.started);
    SClient ana("127.0.0.100", "1001", "pw-ana");
    ana.session->Start();
    ASSERT_TRUE(ana.WaitState('C'));
    EXPECT_EQ(ana.window.states, std::vector<char>{'C'});
    EXPECT_EQ(ana.window.sounds, std::vector<UINT>{IDR_WAVE_CONNECTED});
    EXPECT_EQ(ana.app.Settings().GetStatus(), 'C');

    // The stored list arrives in order, every entry disconnected until polled.
    ASSERT_TRUE(WaitFor([&] { return ana.window.added.size() == 2 && ana.window.userInfos == 1; }));
    EXPECT_EQ(ana.window.added, (std::vector<std::string>{"1002", "1003"}));
    const CContactList& contacts = ana.app.Contacts();
    EXPECT_EQ(contacts[0].m_strNickname, "Bea");
    EXPECT_EQ(contacts[1].m_strNickname, "Carl");
    // The server's addresses are host-relative: the client puts the scheme and its server in front.
    const std::string base = "http://127.0.0.100:" + std::to_string(f.server.HttpPort());
    EXPECT_EQ(ana.window.info.m_strDirectoryUrl, base + "/directory");
    EXPECT_EQ(ana.window.info.m_strHelpUrl, base + "/help");
    EXPECT_EQ(ana.app.m_strHelpUrl, base + "/help");
    EXPECT_EQ(ana.window.info.m_strLabel, "Ana Gil");
    EXPECT_EQ(ana.window.info.m_strTitleName, "Ana Gil");
    EXPECT_EQ(ana.app.m_strDisplayName, "Ana Gil");

    // Bea comes online after Ana's first poll: the next poll of timer 0 (every 5 s) finds her ready.
    SClient bea("127.0.0.100", "1002", "pw-bea");
    bea.session->Start();
    ASSERT_TRUE(bea.WaitState('C'));
    ASSERT_TRUE(WaitFor([&] { return !ana.window.popups.empty(); }, 20000));
    EXPECT_EQ(ana.window.popups, std::vector<std::string>{"User Bea ready"});
    EXPECT_EQ(contacts.Find("1002")->m_cStatus, 'C');
    // Bea sees Ana the same way; Carl, without a name, is shown by his NTV when he comes.
    ASSERT_TRUE(WaitFor([&] { return !bea.window.popups.empty(); }, 20000));
    EXPECT_EQ(bea.window.popups, std::vector<std::string>{"User Ana ready"});

    // Away and back: the letter follows, but only a change between 'D' and 'C' pops up.
    bea.session->SetAway(true);
    ASSERT_TRUE(WaitFor([&] {
        ana.session->PollContacts();
        Idle(100);
        return contacts.Find("1002")->m_cStatus == 'A';
    }));
    bea.session->SetAway(false);
    ASSERT_TRUE(WaitFor([&] {
        ana.session->PollContacts();
        Idle(100);
        return contacts.Find("1002")->m_cStatus == 'C';
    }));
    EXPECT_EQ(ana.window.popups.size(), 1u);

    bea.session.reset();  // Bea's program ends
    ASSERT_TRUE(WaitFor([&] {
        ana.session->PollContacts();
        Idle(100);
        return contacts.Find("1002")->m_cStatus == 'D';
    }));
    EXPECT_EQ(ana.window.popups, (std::vector<std::string>{"User Bea ready", "User Bea disconnected"}));
    EXPECT_EQ(ana.window.statusChanges, (std::vector<std::string>{"1002:C", "1002:A", "1002:C", "1002:D"}));
    EXPECT_TRUE(ana.window.notices.empty());
}

TEST(SessionWithServer, WrongPasswordShowsIncorrectDataAndStaysDisconnected) {
    SServerFixture f("127.0.0.101");
    ASSERT_TRUE(f.started);
    SClient c("127.0.0.101", "1001", "not-the-password");
    c.session->Start();
    ASSERT_TRUE(WaitFor([&] { return !c.window.notices.empty(); }));
    EXPECT_EQ(c.window.notices, std::vector<UINT>{IDS_INCORRECT_DATA});
    EXPECT_EQ(c.window.noticeTexts, std::vector<std::string>{"Incorrect data"});
    EXPECT_EQ(c.window.loginErrors, std::vector<uint8_t>{kLoginErrorCredentials});
    Idle(1500);  // no new attempt follows a refusal
    EXPECT_EQ(c.session->State(), 'D');
    EXPECT_EQ(c.session->ConnectionAttempts(), 1);
    EXPECT_TRUE(c.window.sounds.empty());
    EXPECT_EQ(c.window.notices.size(), 1u);
}

TEST(SessionWithServer, AlreadyConnectedWalksTheStoredAccountsFromTheFirst) {
    SServerFixture f("127.0.0.102");
    ASSERT_TRUE(f.started);
    // 1001 and 1002 are in use elsewhere.
    servertest::CTestClient other1, other2;
    ASSERT_TRUE(other1.Connect("127.0.0.102", 443) && other1.Login("1001", "pw-ana"));
    ASSERT_TRUE(other2.Connect("127.0.0.102", 443) && other2.Login("1002", "pw-bea"));

    SClient c("127.0.0.102", "1001", "pw-ana");
    c.app.SetLaunchState(true, false, "");
    c.app.Accounts() = {{"1001", "pw-ana", "127.0.0.102", 1},
                        {"1002", "pw-bea", "127.0.0.102", 0},
                        {"1003", "pw-carl", "127.0.0.102", 0}};
    c.session->Start();
    ASSERT_TRUE(c.WaitState('C'));
    // Refused as 1001 (the settings' account), then as accounts 0 and 1; account 2 is free.
    EXPECT_EQ(c.window.loginErrors, std::vector<uint8_t>(3, kLoginErrorAlreadyConnected));
    EXPECT_EQ(c.session->AccountIndex(), 3u);
    EXPECT_EQ(c.app.Settings().GetNtv(), "1003");
    EXPECT_EQ(c.app.Settings().GetPort(), 443);
    EXPECT_TRUE(c.window.notices.empty());
    // Carl has no name: the label and the title show his NTV.
    ASSERT_TRUE(WaitFor([&] { return c.window.userInfos == 1; }));
    EXPECT_EQ(c.window.info.m_strLabel, "1003");
    EXPECT_EQ(c.window.info.m_strTitleName, "1003");
}

TEST(SessionWithServer, AlreadyConnectedWithNoAccountLeftShowsNotice124) {
    SServerFixture f("127.0.0.103");
    ASSERT_TRUE(f.started);
    servertest::CTestClient other;
    ASSERT_TRUE(other.Connect("127.0.0.103", 443) && other.Login("1001", "pw-ana"));

    {  // The only instance: no walk at all.
        SClient c("127.0.0.103", "1001", "pw-ana");
        c.app.Accounts() = {{"1001", "pw-ana", "127.0.0.103", 1}};
        c.session->Start();
        ASSERT_TRUE(WaitFor([&] { return !c.window.notices.empty(); }));
        EXPECT_EQ(c.window.notices, std::vector<UINT>{IDS_USER_ALREADY_CONNECTED});
        EXPECT_EQ(c.window.noticeOkOnly, std::vector<bool>{true});
        EXPECT_EQ(c.window.loginErrors.size(), 1u);
    }
    {  // Another instance whose every account is taken.
        SClient c("127.0.0.103", "1001", "pw-ana");
        c.app.SetLaunchState(true, false, "");
        c.app.Accounts() = {{"1001", "pw-ana", "127.0.0.103", 1}};
        c.session->Start();
        ASSERT_TRUE(WaitFor([&] { return !c.window.notices.empty(); }));
        EXPECT_EQ(c.window.notices, std::vector<UINT>{IDS_USER_ALREADY_CONNECTED});
        EXPECT_EQ(c.window.loginErrors.size(), 2u);
        EXPECT_EQ(c.session->AccountIndex(), 1u);
        Idle(500);
        EXPECT_EQ(c.session->State(), 'D');
        EXPECT_EQ(c.session->ConnectionAttempts(), 2);
    }
}

TEST(SessionWithServer, ServerLostAndBackIsReconnectedWithoutTheUser) {
    SServerFixture f("127.0.0.104");
    ASSERT_TRUE(f.started);
    SClient c("127.0.0.104", "1001", "pw-ana");
    c.session->Start();
    ASSERT_TRUE(c.WaitState('C'));

    f.server.Crash();
    ASSERT_TRUE(c.WaitState('D'));
    EXPECT_EQ(c.window.states, (std::vector<char>{'C', 'D'}));
    EXPECT_EQ(c.window.sounds,
              (std::vector<UINT>{IDR_WAVE_CONNECTED, IDR_WAVE_DISCONNECTED, IDR_WAVE_DISCONNECTED}));
    // It keeps trying while the server is away, pausing at most 2 s between attempts.
    const int before = c.session->ConnectionAttempts();
    ASSERT_TRUE(WaitFor([&] { return c.session->ConnectionAttempts() >= before + 3; }));
    EXPECT_LE(c.session->NextRetryMs(), CSessionController::kMaxRetryMs);

    ASSERT_TRUE(f.server.Start());
    ASSERT_TRUE(c.WaitState('C'));
    EXPECT_EQ(c.window.states, (std::vector<char>{'C', 'D', 'C'}));
    EXPECT_EQ(c.window.sounds.back(), IDR_WAVE_CONNECTED);
    EXPECT_EQ(c.session->NextRetryMs(), CSessionController::kFirstRetryMs);  // the series starts again
    EXPECT_TRUE(c.window.notices.empty());
}

TEST(SessionWithServer, NewerVersionNoticeWhoseCancelActsAsTheCloseButton) {
    SServerFixture f("127.0.0.105", {"--current-version", "0200004"});
    ASSERT_TRUE(f.started);
    SClient c("127.0.0.105", "1001", "pw-ana");
    c.window.answers = {false};
    c.session->Start();
    ASSERT_TRUE(WaitFor([&] { return c.window.newVersions == 1 && !c.window.notices.empty(); }));
    EXPECT_EQ(c.window.notices, std::vector<UINT>{IDS_NEW_VERSION});
    EXPECT_EQ(c.window.noticeOkOnly, std::vector<bool>{false});
    EXPECT_EQ(c.window.closes, 1);
    EXPECT_EQ(c.session->State(), 'C');  // the session itself goes on

    // OK continues with nothing more.
    c.window.answers = {true};
    c.session->Connect();
    ASSERT_TRUE(WaitFor([&] { return c.window.newVersions == 2 && c.window.notices.size() == 2; }));
    Idle(100);
    EXPECT_EQ(c.window.closes, 1);
}

TEST(SessionWithServer, AwayIsWhatAnotherClientsStatusQuerySees) {
    SServerFixture f("127.0.0.106");
    ASSERT_TRUE(f.started);
    SClient c("127.0.0.106", "1001", "pw-ana");
    c.session->Start();
    ASSERT_TRUE(c.WaitState('C'));
    servertest::CTestClient observer;
    ASSERT_TRUE(observer.Connect("127.0.0.106", 443) && observer.LoginFully("1003", "pw-carl"));
    EXPECT_EQ(QueryStatus(observer, "1001"), 'C');

    c.session->SetAway(true);
    EXPECT_TRUE(c.session->IsAway());
    ASSERT_TRUE(WaitFor([&] { return QueryStatus(observer, "1001") == 'A'; }));
    c.session->SetAway(false);
    ASSERT_TRUE(WaitFor([&] { return QueryStatus(observer, "1001") == 'C'; }));
}

TEST(SessionWithServer, FailedAttemptsAreRetriedWithAGrowingPauseUntilTheServerComes) {
    CScratch scratch;
    ASSERT_TRUE(SeedDatabase(scratch.File("accounts.db"), kUsers));
    CAddressHold nobody;  // refuses connections until the server comes
    ASSERT_TRUE(nobody.Take("127.0.0.111"));
    SClient c("127.0.0.111", "1001", "pw-ana");
    c.session->Start();
    // Nothing listens yet: refused at once, then again after 250, 500, 1000, 2000, 2000 ms ...
    ASSERT_TRUE(WaitFor([&] { return c.session->ConnectionAttempts() >= 5; }));
    EXPECT_EQ(c.session->NextRetryMs(), CSessionController::kMaxRetryMs);
    EXPECT_EQ(c.session->State(), 'D');
    EXPECT_TRUE(c.window.sounds.empty());  // failed attempts are silent

    CVelaphond server(scratch.File("accounts.db"), "127.0.0.111");
    nobody.Release();
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(c.WaitState('C'));
    EXPECT_EQ(c.window.sounds, std::vector<UINT>{IDR_WAVE_CONNECTED});
}

// tinyproxy with Basic authentication on 127.0.0.110, its outgoing connections from that address too,
// so the server's log shows whether the login came through it.
class CTinyProxy : public vp::test::CTinyProxy {
public:
    CTinyProxy(const std::string& address, const std::string& login, const std::string& password)
        : vp::test::CTinyProxy(address, 0, login, password, true) {}
};

TEST(SessionWithServer, LogsInThroughTheStoredProxyWhenTheProxySettingIsOn) {
    SServerFixture f("127.0.0.109");
    ASSERT_TRUE(f.started);
    CTinyProxy proxy("127.0.0.110", "vp-user", "vp-secret");
    ASSERT_TRUE(proxy.Ready()) << "tinyproxy did not start";

    {  // Wrong proxy password: the proxy refuses, the client keeps trying and never logs in.
        SClient c("127.0.0.109", "1002", "pw-bea");
        c.app.Settings().SetProxy("127.0.0.110", proxy.Port(), "vp-user", "wrong", "");
        c.app.Settings().SetUseProxy(true);
        c.session->Start();
        ASSERT_TRUE(WaitFor([&] { return c.session->ConnectionAttempts() >= 3; }));
        EXPECT_EQ(c.session->State(), 'D');
    }
    SClient c("127.0.0.109", "1001", "pw-ana");
    c.app.Settings().SetProxy("127.0.0.110", proxy.Port(), "vp-user", "vp-secret", "");
    c.app.Settings().SetUseProxy(true);
    c.session->Start();
    ASSERT_TRUE(c.WaitState('C'));
    EXPECT_TRUE(f.server.WaitForLog("login 1001 from 127.0.0.110:"));

    // With the flag off the stored proxy is not used.
    SClient direct("127.0.0.109", "1003", "pw-carl");
    direct.app.Settings().SetProxy("127.0.0.110", proxy.Port(), "vp-user", "vp-secret", "");
    direct.session->Start();
    ASSERT_TRUE(direct.WaitState('C'));
    EXPECT_TRUE(f.server.WaitForLog("login 1003 from 127.0.0.1:"));
}

}  // namespace
