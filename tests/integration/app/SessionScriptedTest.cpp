// The session controller against a scripted server, for what velaphond never does: a second login
// accepted, several records waiting for one notification, a notice whose nested loop drains the channel,
// odd addresses and names in the user information, malformed and unknown records.
#include <gtest/gtest.h>

#include "integration/app/SessionHarness.h"

namespace {

using namespace sessiontest;

// A client connected and logged in to the scripted server at `address`; the server has taken the login
// record and the contacts request.
struct SScripted {
    SScripted(const std::string& address, const std::string& ntv = "34600111222")
        : server(address), client(address, ntv, "secret") {}
    bool Login() {
        if (!server.Listening())
            return false;
        client.session->Start();
        if (!server.Accept())
            return false;
        login = server.Next();
        if (!server.Send(BuildShortRecord(MSG_LOGIN_OK)) || !client.WaitState('C'))
            return false;
        return server.Next() == BuildShortRecord(MSG_CONTACTS);
    }
    CScriptedServer server;
    SClient client;
    Bytes login;
};

TEST(SessionScripted, LoginRecordAndASecondLoginAcceptedChangesNothing) {
    SScripted s("127.0.0.107");
    ASSERT_TRUE(s.Login());
    EXPECT_EQ(s.login, BuildLogin("34600111222", "secret", "127.0.0.1", "0200003", 0));

    s.server.Send(BuildContactRecord(MSG_CONTACTS, "1002", "Bea"));
    s.server.Send(BuildShortRecord(MSG_LOGIN_OK));
    s.server.Send(BuildShortRecord(MSG_PING));
    // A listed contact's letter is asked for at once; the ping's answer comes after the second login
    // was handled.
    EXPECT_EQ(s.server.Next(), BuildContactStatusQuery("1002"));
    EXPECT_EQ(s.server.Next(), BuildShortRecord(MSG_PING));
    EXPECT_EQ(s.client.window.states, std::vector<char>{'C'});
    EXPECT_EQ(s.client.window.sounds, std::vector<UINT>{IDR_WAVE_CONNECTED});
    EXPECT_EQ(s.client.app.Contacts().size(), 1u);  // the list was not emptied, nor asked for again

    // Timer 0 polls every contact in list order.
    EXPECT_EQ(s.server.Next(8000), BuildContactStatusQuery("1002"));
}

TEST(SessionScripted, OneNotificationHandlesEveryRecordQueuedBeforeIt) {
    SScripted s("127.0.0.108");
    ASSERT_TRUE(s.Login());
    CChannelControl& control = s.client.session->Control();
    const std::vector<Bytes> records = {
        BuildContactRecord(MSG_CONTACTS, "1002", "Bea"),
        BuildContactRecord(MSG_CONTACTS, "1003", "Carl"),
        BuildContactStatus("1002", 'C'),
        BuildUserInfo("/dir", "/help", "Ana"),
        BuildShortRecord(MSG_PING),
    };
    for (const Bytes& r : records)
        s.server.Send(r);
    // All five wait in the ring (nothing dispatched meanwhile); one notification takes them all.
    for (int i = 0; i < 2000 && control.ReceivedCount() < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(control.ReceivedCount(), 5);
    // Other targets of this thread have messages too: one message at a time until the ring changes.
    for (int i = 0; i < 1000 && control.ReceivedCount() == 5; ++i)
        DispatchPendingMessages(1);
    EXPECT_EQ(control.ReceivedCount(), 0);
    EXPECT_EQ(s.client.app.Contacts().size(), 2u);
    EXPECT_EQ(s.client.window.popups, std::vector<std::string>{"User Bea ready"});
    EXPECT_EQ(s.client.window.userInfos, 1);
    EXPECT_EQ(s.server.NextWithCode(MSG_PING), BuildShortRecord(MSG_PING));
}

TEST(SessionScripted, ANoticeWhoseLoopDrainsTheChannelEndsTheOuterDispatch) {
    SScripted s("127.0.0.112");
    ASSERT_TRUE(s.Login());
    CChannelControl& control = s.client.session->Control();
    s.client.window.noticeMs = 300;  // the user reads it while more records arrive
    s.server.Send(BuildShortRecord(MSG_NEW_VERSION));
    for (int i = 0; i < 3; ++i)
        s.server.Send(BuildShortRecord(MSG_PING));
    for (int i = 0; i < 2000 && control.ReceivedCount() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(control.ReceivedCount(), 4);
    // The first notification opens the notice; its loop handles the later notifications and takes the
    // pings. Back in the first, nothing is left: no record is handled twice.
    for (int i = 0; i < 1000 && s.client.window.notices.empty(); ++i)
        DispatchPendingMessages(1);
    EXPECT_EQ(s.client.window.notices, std::vector<UINT>{IDS_NEW_VERSION});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s.server.Next(), BuildShortRecord(MSG_PING));
    EXPECT_TRUE(s.server.Next(300).empty());
    EXPECT_EQ(s.client.window.newVersions, 1);
}

TEST(SessionScripted, UserInformationAddressesAndNames) {
    SScripted s("127.0.0.113");
    ASSERT_TRUE(s.Login());
    CRecordingWindow& w = s.client.window;
    // A bare path gets the scheme and the configured host in front, with no separator added.
    s.server.Send(BuildUserInfo("/dir?x=1", "help.html", "Ana Gil"));
    ASSERT_TRUE(WaitFor([&] { return w.userInfos == 1; }));
    EXPECT_EQ(w.info.m_strDirectoryUrl, "http://127.0.0.113/dir?x=1");
    EXPECT_EQ(w.info.m_strHelpUrl, "http://127.0.0.113help.html");
    EXPECT_EQ(w.info.m_strLabel, "Ana Gil");
    // The scheme in any letter case is kept as it stands.
    s.server.Send(BuildUserInfo("HtTp://dir.example/d", "https://help.example/h", ""));
    ASSERT_TRUE(WaitFor([&] { return w.userInfos == 2; }));
    EXPECT_EQ(w.info.m_strDirectoryUrl, "HtTp://dir.example/d");
    EXPECT_EQ(w.info.m_strHelpUrl, "https://help.example/h");
    // No name: the NTV labels the window and its title.
    EXPECT_EQ(w.info.m_strLabel, "34600111222");
    EXPECT_EQ(w.info.m_strTitleName, "34600111222");
    EXPECT_EQ(s.client.app.m_strDirectoryUrl, "HtTp://dir.example/d");
}

TEST(SessionScripted, TheGuestIsLabelledDirectCall) {
    SScripted s("127.0.0.114", CClientApp::kGuestNtv);
    ASSERT_TRUE(s.Login());
    s.server.Send(BuildUserInfo("", "", ""));
    ASSERT_TRUE(WaitFor([&] { return s.client.window.userInfos == 1; }));
    EXPECT_EQ(s.client.window.info.m_strLabel, "Direct call");
    EXPECT_EQ(s.client.window.info.m_strTitleName, CClientApp::kGuestNtv);
    EXPECT_EQ(s.client.window.info.m_strHelpUrl, "http://127.0.0.114");
}

TEST(SessionScripted, MalformedAndUnknownRecordsAreIgnored) {
    SScripted s("127.0.0.115");
    ASSERT_TRUE(s.Login());
    CRecordingWindow& w = s.client.window;
    for (const Bytes& r : {Bytes{MSG_LOGIN_ERROR}, Bytes{MSG_USER_INFO, 'x'}, Bytes{MSG_CONTACTS, '1'},
                           Bytes{MSG_CONTACT_STATUS, '1', 0}, Bytes{200, 1, 2, 3}, Bytes{0}, Bytes{},
                           Bytes{MSG_LOGIN_ERROR, 99}})
        s.server.Send(r);
    s.server.Send(BuildShortRecord(MSG_PING));
    EXPECT_EQ(s.server.Next(), BuildShortRecord(MSG_PING));
    EXPECT_EQ(w.loginErrors, std::vector<uint8_t>{99});  // reported, but it changes nothing
    EXPECT_EQ(w.userInfos, 0);
    EXPECT_TRUE(w.notices.empty());
    EXPECT_TRUE(s.client.app.Contacts().empty());
    EXPECT_EQ(s.client.session->State(), 'C');
}

TEST(SessionScripted, StatusBoxSendsTheOwnLetterOnlyWhileLoggedIn) {
    SScripted s("127.0.0.116");
    ASSERT_TRUE(s.Login());
    s.client.session->SetAway(true);
    EXPECT_EQ(s.server.NextWithCode(MSG_SET_STATUS), BuildSetStatus('A'));
    s.client.session->SetAway(false);
    EXPECT_EQ(s.server.NextWithCode(MSG_SET_STATUS), BuildSetStatus('C'));

    // A dropped connection: state 'D', sound 169 twice, and a new attempt at once.
    s.client.session->SetAway(true);
    EXPECT_EQ(s.server.NextWithCode(MSG_SET_STATUS), BuildSetStatus('A'));
    s.server.Drop();
    ASSERT_TRUE(s.client.WaitState('D'));
    EXPECT_EQ(s.client.window.sounds,
              (std::vector<UINT>{IDR_WAVE_CONNECTED, IDR_WAVE_DISCONNECTED, IDR_WAVE_DISCONNECTED}));
    s.client.session->SetAway(false);  // nothing to send it on
    ASSERT_TRUE(s.server.Accept());
    Bytes login = s.server.Next();
    EXPECT_EQ(login.size(), kLoginSize);
    ASSERT_TRUE(s.server.Send(BuildShortRecord(MSG_LOGIN_OK)));
    ASSERT_TRUE(s.client.WaitState('C'));
    // The status box shows "Connected" again, without a status record.
    EXPECT_FALSE(s.client.session->IsAway());
    EXPECT_EQ(s.server.Next(), BuildShortRecord(MSG_CONTACTS));
}

TEST(SessionScripted, CallRecordsChannelsAndTheLossReachTheCallHooks) {
    SScripted s("127.0.0.117");
    CRecordingHooks hooks;
    s.client.session->SetCallHooks(&hooks);
    ASSERT_TRUE(s.Login());
    // The call logic registers its channels when a call's media start.
    CChannelText text;
    s.client.session->Service().AddChannel(&text);

    const Bytes setup = BuildCallSetup(7, "1002", "Bea", "34600111222");
    for (const Bytes& r : {BuildCallIdRecord(MSG_CALL_ID, 7), BuildShortRecord(MSG_CALL_ACCEPTED),
                           BuildShortRecord(MSG_CALL_ABORT), BuildShortRecord(MSG_HANGUP), setup,
                           BuildShortRecord(MSG_CALL_CONNECTED)})
        s.server.Send(r);
    Bytes refused;
    ASSERT_TRUE(BuildCallRefused(setup.data(), setup.size(), kRefusedBusy, refused));
    s.server.Send(refused);
    SBitmapInfoHeader header;
    header.biWidth = 320;
    header.biHeight = 240;
    for (const Bytes& r :
         {BuildVideoFormat(header), BuildShortRecord(MSG_VIDEO_STOP), BuildShortRecord(MSG_VIDEO_KEYFRAME)})
        s.server.Send(r);
    s.server.Text().SendText("hola");
    ASSERT_TRUE(WaitFor(
        [&] { return hooks.calls.size() == 7 && hooks.videos.size() == 3 && !hooks.channels.empty(); }));
    std::vector<uint8_t> codes;
    for (const Bytes& r : hooks.calls)
        codes.push_back(r[0]);
    EXPECT_EQ(codes, (std::vector<uint8_t>{11, 14, 15, 16, 17, 19, 18}));
    EXPECT_EQ(hooks.calls[4], setup);
    EXPECT_EQ(hooks.videos[0], BuildVideoFormat(header));
    EXPECT_EQ(hooks.channels, std::vector<uint8_t>{kChannelText});
    EXPECT_EQ(text.ReceiveText(), "hola");
    EXPECT_EQ(hooks.lost, 0);

    s.server.Drop();
    ASSERT_TRUE(s.client.WaitState('D'));
    EXPECT_EQ(hooks.lost, 1);
    s.client.session->Service().RemoveChannel(&text);
    s.client.session->SetCallHooks(nullptr);
}

// A guest's call waits for the login: the first tick may come while the server has not answered yet.
TEST(SessionScripted, DynamicModeCallsOnlyOnceLoggedIn) {
    CScriptedServer server("127.0.0.118");
    SClient client("127.0.0.118", CClientApp::kGuestNtv, CClientApp::kGuestNtv);
    client.app.SetLaunchState(false, true, "1002");
    CRecordingHooks hooks;
    client.session->SetCallHooks(&hooks);
    ASSERT_TRUE(server.Listening());
    client.session->Start();
    ASSERT_TRUE(server.Accept());
    server.Next();  // the login, left unanswered past the first tick
    Idle(CSessionController::kFirstCallMs + 500);
    EXPECT_TRUE(hooks.placed.empty());
    ASSERT_TRUE(server.Send(BuildShortRecord(MSG_LOGIN_OK)));
    ASSERT_TRUE(WaitFor([&] { return !hooks.placed.empty(); }));
    EXPECT_EQ(hooks.placed, std::vector<std::string>{"1002"});
    EXPECT_EQ(client.session->State(), 'C');
}

}  // namespace
