// velaphond as users meet it: a real process, real sockets, byte-checked records.
#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>

#include "integration/server/ServerHarness.h"
#include "server/AccountStore.h"

namespace {

using namespace servertest;

class ServerProcess : public ::testing::Test {
protected:
    void AddUsers(std::initializer_list<std::tuple<const char*, const char*, const char*>> users) {
        CAccountStore store;
        ASSERT_TRUE(store.Open(m_db, true));
        for (const auto& [ntv, pw, name] : users) {
            CUserProfile p;
            p.strNtv = ntv;
            p.strName = name;
            // Cheap hashes: the server checks them the same way, at the cost they were made with.
            ASSERT_EQ(store.AddUser(p, pw, EHashCost::Minimal), CAccountStore::EResult::Done);
        }
    }
    void StartServer(const std::string& address, const std::vector<std::string>& extra = {}) {
        ASSERT_TRUE(m_server.Start(m_db, address, extra)) << "velaphond did not start";
    }
    void Connect(CTestClient& c) { ASSERT_TRUE(c.Connect(m_server.Address(), m_server.Port())); }
    void LoginAs(CTestClient& c, const char* ntv, const char* pw) {
        Connect(c);
        ASSERT_TRUE(c.LoginFully(ntv, pw)) << ntv;
    }
    static uint32_t CallIdOf(const Bytes& record) {
        uint32_t id = 0;
        EXPECT_EQ(record.size(), kCallIdRecordSize);
        EXPECT_EQ(record.empty() ? 0 : record[0], MSG_CALL_ID);
        ParseCallIdRecord(record.data(), record.size(), id);
        return id;
    }
    // a calls b and b accepts; returns the call id.
    uint32_t Establish(CTestClient& a, const char* aNtv, CTestClient& b, const char* bNtv) {
        a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        uint32_t id = CallIdOf(a.ReceiveControl());
        a.Control(BuildCallSetup(id, aNtv, "caller", bNtv));
        Bytes setup = b.ReceiveControl();
        EXPECT_EQ(setup, BuildCallSetup(id, aNtv, "caller", bNtv));
        b.Control(BuildCallIdRecord(MSG_CALL_ACCEPT, id));
        EXPECT_EQ(b.ReceiveControl(), BuildShortRecord(MSG_CALL_ACCEPTED));
        b.Control(BuildShortRecord(MSG_CALL_CONNECTED));
        EXPECT_EQ(a.ReceiveControl(), BuildShortRecord(MSG_CALL_CONNECTED));
        return id;
    }

    CScratch m_scratch;
    std::string m_db = m_scratch.File("accounts.db");
    CServerProcess m_server;
};

TEST_F(ServerProcess, UserCommandsAndExitCodes) {
    CRun r = RunTool({"user", "add", "--db", m_db, "1001", "secret", "--name", "Ana Gil", "--country", "ES"});
    EXPECT_EQ(r.nExit, 0) << r.strErr;
    EXPECT_EQ(RunTool({"user", "add", "--db", m_db, "0500", "pw"}).nExit, 0);
    // An NTV that exists: failure, nothing changes.
    r = RunTool({"user", "add", "--db", m_db, "1001", "other", "--name", "Impostor"});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.strErr.find("exists"), std::string::npos);
    r = RunTool({"user", "list", "--db", m_db});
    EXPECT_EQ(r.nExit, 0);
    EXPECT_EQ(r.strOut, "0500\t\n1001\tAna Gil\n");

    EXPECT_EQ(RunTool({"user", "remove", "--db", m_db, "0500"}).nExit, 0);
    EXPECT_EQ(RunTool({"user", "remove", "--db", m_db, "0500"}).nExit, 1);
    EXPECT_EQ(RunTool({"user", "list", "--db", m_db}).strOut, "1001\tAna Gil\n");
    EXPECT_EQ(RunTool({"user", "list", "--db", m_scratch.File("missing.db")}).nExit, 1);

    // Bad arguments: 2 with the usage text.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"user", "add", "--db", m_db, "1x", "pw"},
                                               {"serve"},
                                               {"serve", "--db", m_db, "--listen", "nowhere"}}) {
        r = RunTool(args);
        EXPECT_EQ(r.nExit, 2);
        EXPECT_NE(r.strErr.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(RunTool({"--help"}).nExit, 0);

    // A server that cannot listen fails with 1.
    StartServer("127.0.0.60");
    r = RunTool({"serve", "--db", m_db, "--listen", "127.0.0.60:" + std::to_string(m_server.Port()), "--http",
                 "127.0.0.60:0"});
    EXPECT_EQ(r.nExit, 1);
    r = RunTool({"serve", "--db", m_db, "--listen", "127.0.0.60:0", "--http",
                 "127.0.0.60:" + std::to_string(m_server.HttpPort())});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_EQ(RunTool({"serve", "--db", m_scratch.File("no/such/dir.db"), "--listen", "127.0.0.60:0"}).nExit,
              1);

    // The account added by the command logs in with its password (the real, costly hash).
    CTestClient c;
    Connect(c);
    ASSERT_TRUE(c.Login("1001", "secret"));
    SUserInfo info;
    Bytes record = c.ReceiveControl();
    ASSERT_TRUE(ParseUserInfo(record.data(), record.size(), info));
    EXPECT_EQ(info.displayName, "Ana Gil");
    EXPECT_EQ(m_server.Stop(), 0);
}

TEST_F(ServerProcess, LoginAnswersAndUserInformation) {
    AddUsers({{"1001", "ana", "Ana Gil"}, {"1002", "bob", ""}});
    StartServer("127.0.0.61", {"--current-version", "0200004"});
    CTestClient a;
    Connect(a);
    ASSERT_TRUE(a.Login("1001", "ana"));
    Bytes info = a.ReceiveControl();
    std::string port = std::to_string(m_server.HttpPort());
    Bytes expected = BuildUserInfo(":" + port + "/directory", ":" + port + "/help", "Ana Gil");
    expected.resize(403 + 7 + 1);
    EXPECT_EQ(info, expected);
    // The client version 0200003 is older than the server's current one.
    EXPECT_EQ(a.ReceiveControl(), BuildShortRecord(MSG_NEW_VERSION));

    // Wrong password, unknown NTV: reason 2; already connected: reason 8.
    CTestClient b;
    Connect(b);
    b.Control(BuildLogin("1002", "nope", "", "0200004", 0));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_LOGIN_ERROR, 2}));
    b.Control(BuildLogin("9999", "x", "", "0200004", 0));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_LOGIN_ERROR, 2}));
    b.Control(BuildLogin("1001", "ana", "", "0200004", 0));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_LOGIN_ERROR, 8}));
    // The same connection may still log in as someone else; a current version gets no notice.
    b.Control(BuildLogin("1002", "bob", "", "0200004", 0));
    EXPECT_EQ(b.ReceiveControl(), BuildShortRecord(MSG_LOGIN_OK));
    EXPECT_EQ(b.ReceiveControl().size(), 404u);
    EXPECT_TRUE(b.Quiet());

    // Guests: any number at once.
    CTestClient g1, g2;
    LoginAs(g1, "888888888888888", "888888888888888");
    LoginAs(g2, "888888888888888", "888888888888888");
    EXPECT_TRUE(m_server.WaitForLog("login 1001 from"));
}

TEST_F(ServerProcess, FramesSentBeforeTheLoginAnswerWaitTheirTurn) {
    AddUsers({{"1001", "ana", "Ana"}});
    StartServer("127.0.0.62");
    CTestClient a;
    Connect(a);
    // One write: the login and a status query behind it.
    Bytes both = CTestClient::MakeFrame(kChannelControl, BuildLogin("1001", "ana", "", "0200003", 0));
    Bytes query = CTestClient::MakeFrame(kChannelControl, BuildContactStatusQuery("1001"));
    both.insert(both.end(), query.begin(), query.end());
    ASSERT_TRUE(a.SendRaw(both));
    EXPECT_EQ(a.ReceiveControl(), BuildShortRecord(MSG_LOGIN_OK));
    EXPECT_EQ(a.ReceiveControl()[0], MSG_USER_INFO);
    EXPECT_EQ(a.ReceiveControl(), BuildContactStatus("1001", 'C'));
}

TEST_F(ServerProcess, PresenceAndContactsSurviveARestart) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.63");
    {
        CTestClient a, b;
        LoginAs(a, "1001", "ana");
        a.Control(BuildContactStatusQuery("1002"));
        EXPECT_EQ(a.ReceiveControl(), BuildContactStatus("1002", 'D'));
        LoginAs(b, "1002", "bob");
        a.Control(BuildContactStatusQuery("1002"));
        EXPECT_EQ(a.ReceiveControl(), BuildContactStatus("1002", 'C'));
        b.Control(BuildSetStatus('A'));
        a.Control(BuildContactStatusQuery("1002"));
        EXPECT_EQ(a.ReceiveControl(), BuildContactStatus("1002", 'A'));
        b.Close();
        // The server notices the closed socket; poll until it shows.
        Bytes status;
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (status != BuildContactStatus("1002", 'D') && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            a.Control(BuildContactStatusQuery("1002"));
            status = a.ReceiveControl();
        }
        EXPECT_EQ(status, BuildContactStatus("1002", 'D'));

        a.Control(BuildContactRecord(MSG_CONTACT_ADD, "1002", "Bob the builder"));
        a.Control(BuildContactRecord(MSG_CONTACT_ADD, "3003", "Carla"));
        a.Control(BuildContactRecord(MSG_CONTACT_ADD, "4004", "Dan"));
        a.Control(BuildContactRemove("3003"));
        a.Control(BuildShortRecord(MSG_CONTACTS));
        EXPECT_EQ(a.ReceiveControl(), BuildContactRecord(MSG_CONTACTS, "1002", "Bob the builder"));
        EXPECT_EQ(a.ReceiveControl(), BuildContactRecord(MSG_CONTACTS, "4004", "Dan"));
        EXPECT_TRUE(a.Quiet());
    }
    ASSERT_EQ(m_server.Stop(), 0);
    CServerProcess again;
    ASSERT_TRUE(again.Start(m_db, "127.0.0.63"));
    CTestClient a;
    ASSERT_TRUE(a.Connect(again.Address(), again.Port()));
    ASSERT_TRUE(a.LoginFully("1001", "ana"));
    a.Control(BuildShortRecord(MSG_CONTACTS));
    EXPECT_EQ(a.ReceiveControl(), BuildContactRecord(MSG_CONTACTS, "1002", "Bob the builder"));
    EXPECT_EQ(a.ReceiveControl(), BuildContactRecord(MSG_CONTACTS, "4004", "Dan"));
    EXPECT_EQ(again.Stop(), 0);
}

TEST_F(ServerProcess, ACallFromRequestToHangUpWithEveryMediumRelayed) {
    AddUsers({{"1001", "ana", "Ana Gil"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.64");
    CTestClient a, b;
    LoginAs(a, "1001", "ana");
    LoginAs(b, "1002", "bob");

    a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    uint32_t id = CallIdOf(a.ReceiveControl());
    EXPECT_NE(id, 0u);
    Bytes setup = BuildCallSetup(id, "1001", "Ana Gil", "1002");
    a.Control(setup);
    auto incoming = b.Receive();
    ASSERT_TRUE(incoming);
    EXPECT_EQ(incoming->header.channel, kChannelControl);
    EXPECT_EQ(incoming->payload, setup);
    b.Control(BuildCallIdRecord(MSG_CALL_ACCEPT, id));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_CALL_ACCEPTED, 0}));
    b.Control(BuildShortRecord(MSG_CALL_CONNECTED));
    EXPECT_EQ(a.ReceiveControl(), (Bytes{MSG_CALL_CONNECTED, 0}));

    // Each direction: a chat line, audio, video and the video control messages, unchanged and in order.
    std::vector<Bytes> sent;
    Bytes audio = BuildAudio(7, Bytes(160, 0x5a).data(), 160, 1600);
    Bytes video = BuildVideo(Bytes(5000, 0x33).data(), 5000, 320 * 240 * 3 / 2, true);
    SBitmapInfoHeader format;
    format.biWidth = 320;
    format.biHeight = 240;
    format.biBitCount = 12;
    for (CTestClient* from : {&a, &b}) {
        CTestClient* to = from == &a ? &b : &a;
        std::vector<Bytes> frames = {
            CTestClient::MakeFrame(kChannelControl, BuildVideoFormat(format), "x"),
            CTestClient::MakeFrame(kChannelText, BuildText("hola, \xe1rbol"), "x"),
            CTestClient::MakeFrame(kChannelAudio, audio, "x"),
            CTestClient::MakeFrame(kChannelVideo, video, "x", kTagVideo),
            CTestClient::MakeFrame(kChannelControl, BuildShortRecord(MSG_VIDEO_KEYFRAME), "x"),
            CTestClient::MakeFrame(kChannelControl, BuildShortRecord(MSG_VIDEO_STOP), "x"),
        };
        for (const Bytes& f : frames)
            ASSERT_TRUE(from->SendRaw(f));
        for (const Bytes& f : frames) {
            auto got = to->Receive();
            ASSERT_TRUE(got);
            EXPECT_EQ(got->raw, f);
        }
    }

    a.Control(BuildShortRecord(MSG_HANGUP));
    a.Control(BuildShortRecord(MSG_CALL_END));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_HANGUP, 0}));
    // After the call nothing is relayed.
    a.Send(kChannelAudio, audio);
    EXPECT_TRUE(b.Quiet());
    EXPECT_TRUE(m_server.WaitForLog("call " + std::to_string(id) + " ended by 1001"));
}

TEST_F(ServerProcess, RefusalsIncludingTheLateOneAndCallsToNobody) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.65");
    CTestClient a, b;
    LoginAs(a, "1001", "ana");

    // Nobody there: the set-up comes back as a refusal with reason 18.
    a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    uint32_t id = CallIdOf(a.ReceiveControl());
    Bytes setup = BuildCallSetup(id, "1001", "Ana", "1002");
    a.Control(setup);
    Bytes expected;
    ASSERT_TRUE(BuildCallRefused(setup.data(), setup.size(), kRefusedNoAnswer, expected));
    EXPECT_EQ(a.ReceiveControl(), expected);
    a.Control(BuildShortRecord(MSG_HANGUP));
    a.Control(BuildShortRecord(MSG_CALL_END));

    // The callee declines while it rings: the caller gets its record.
    LoginAs(b, "1002", "bob");
    a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    id = CallIdOf(a.ReceiveControl());
    a.Control(BuildCallSetup(id, "1001", "Ana", "1002"));
    Bytes ringing = b.ReceiveControl();
    Bytes declined;
    ASSERT_TRUE(BuildCallRefused(ringing.data(), ringing.size(), kRefusedByUser, declined));
    b.Control(declined);
    EXPECT_EQ(a.ReceiveControl(), declined);

    // The caller's 12 s time-out beats the callee's ten rings: abort first, the refusal later.
    a.Control(BuildShortRecord(MSG_HANGUP));
    a.Control(BuildShortRecord(MSG_CALL_END));
    a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    id = CallIdOf(a.ReceiveControl());
    a.Control(BuildCallSetup(id, "1001", "Ana", "1002"));
    ringing = b.ReceiveControl();
    a.Control(BuildShortRecord(MSG_HANGUP));
    a.Control(BuildShortRecord(MSG_CALL_END));
    EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_CALL_ABORT, 0}));
    Bytes late;
    ASSERT_TRUE(BuildCallRefused(ringing.data(), ringing.size(), kRefusedNoAnswer, late));
    b.Control(late);
    EXPECT_EQ(a.ReceiveControl(), late);
}

TEST_F(ServerProcess, DisconnectsInEachCallState) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.66");
    auto place = [&](CTestClient& a, CTestClient& b) {
        a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        uint32_t id = CallIdOf(a.ReceiveControl());
        a.Control(BuildCallSetup(id, "1001", "Ana", "1002"));
        EXPECT_EQ(b.ReceiveControl()[0], MSG_CALL_SETUP);
    };
    {
        // The caller goes while it rings: the callee gets an abort.
        CTestClient a, b;
        LoginAs(a, "1001", "ana");
        LoginAs(b, "1002", "bob");
        place(a, b);
        a.Close();
        EXPECT_EQ(b.ReceiveControl(), (Bytes{MSG_CALL_ABORT, 0}));
    }
    {
        // The callee goes while it rings: the caller gets a hang-up.
        CTestClient a, b;
        LoginAs(a, "1001", "ana");
        LoginAs(b, "1002", "bob");
        place(a, b);
        b.Close();
        EXPECT_EQ(a.ReceiveControl(), (Bytes{MSG_HANGUP, 0}));
    }
    for (int leaver = 0; leaver < 2; ++leaver) {
        // Either party goes during the call: the other gets a hang-up.
        CTestClient a, b;
        LoginAs(a, "1001", "ana");
        LoginAs(b, "1002", "bob");
        Establish(a, "1001", b, "1002");
        (leaver == 0 ? a : b).Close();
        EXPECT_EQ((leaver == 0 ? b : a).ReceiveControl(), (Bytes{MSG_HANGUP, 0}));
    }
    {
        // The caller goes after the call id, before the set-up; the callee hears nothing.
        CTestClient a, b;
        LoginAs(a, "1001", "ana");
        LoginAs(b, "1002", "bob");
        a.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        CallIdOf(a.ReceiveControl());
        a.Close();
        EXPECT_TRUE(b.Quiet(300));
    }
}

TEST_F(ServerProcess, PingsAndSilentConnections) {
    AddUsers({{"1001", "ana", "Ana"}});
    // Short, but with room for a loaded machine: the answering client must not miss three in a row.
    StartServer("127.0.0.67", {"--ping-interval", "0.5"});
    CTestClient silent, answering;
    Connect(silent);
    LoginAs(answering, "1001", "ana");
    auto ping = silent.Receive(2000, true);
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->payload, (Bytes{MSG_PING, 0}));
    EXPECT_EQ(ping->header.channel, kChannelControl);
    // Three silent intervals (1.5 s) close it, while the client that answers each ping stays.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!silent.WaitClosed(20) && Clock::now() < deadline) {
        ASSERT_TRUE(answering.Quiet(20));
    }
    EXPECT_TRUE(silent.IsClosed());
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(answering.Quiet(20));
    answering.Control(BuildContactStatusQuery("1001"));
    EXPECT_EQ(answering.ReceiveControl(), BuildContactStatus("1001", 'C'));
    EXPECT_TRUE(m_server.WaitForLog("silent for three ping intervals"));
}

TEST_F(ServerProcess, BadInputAffectsOnlyItsOwnConnection) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.68");
    CTestClient a, b;
    LoginAs(a, "1001", "ana");
    LoginAs(b, "1002", "bob");
    Establish(a, "1001", b, "1002");

    // Oversize length: that connection closes.
    CTestClient bad;
    Connect(bad);
    Bytes header(kFrameHeaderSize, 0);
    BuildFrameHeader(header.data(), 0, kMaxFramePayload + 1, "", 0, false);
    ASSERT_TRUE(bad.SendRaw(header));
    EXPECT_TRUE(bad.WaitClosed());
    // Before a login, even a frame of 5000 bytes is more than anyone needs.
    CTestClient stranger;
    Connect(stranger);
    ASSERT_TRUE(stranger.Send(kChannelControl, Bytes(5000, MSG_LOGIN)));
    EXPECT_TRUE(stranger.WaitClosed());
    // Top bit set in the length, after a valid login.
    CTestClient bad2;
    LoginAs(bad2, "888888888888888", "888888888888888");
    header[5] = 0x80;
    ASSERT_TRUE(bad2.SendRaw(header));
    EXPECT_TRUE(bad2.WaitClosed());
    // Short records and unknown codes are ignored, the connection stays.
    CTestClient odd;
    LoginAs(odd, "888888888888888", "888888888888888");
    const uint8_t codes[] = {
        MSG_LOGIN, MSG_CALL_SETUP, MSG_CALL_REFUSED, MSG_CONTACT_ADD, MSG_CONTACT_STATUS, MSG_CALL_ACCEPT,
        200};
    for (uint8_t code : codes) {
        odd.Control(Bytes{code});
    }
    odd.Send(kChannelControl, {});
    odd.Send(9, Bytes(100, 1));
    odd.Control(BuildContactStatusQuery("1001"));
    EXPECT_EQ(odd.ReceiveControl(), BuildContactStatus("1001", 'C'));
    // A stream of random bytes.
    CTestClient noise;
    Connect(noise);
    Bytes junk(64 * 1024);
    uint32_t x = 12345;
    for (auto& c : junk)
        c = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    noise.SendRaw(junk);
    EXPECT_TRUE(noise.WaitClosed());
    // A connection that stops in the middle of a frame costs nothing to the others.
    CTestClient half;
    Connect(half);
    ASSERT_TRUE(half.SendRaw(Bytes(17, 0)));

    // The call goes on.
    a.Send(kChannelText, BuildText("still here"));
    auto got = b.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->payload, BuildText("still here"));
    EXPECT_TRUE(m_server.WaitForLog("corrupt frame"));
}

TEST_F(ServerProcess, ASlowReaderLosesMediaButNoControlMessage) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.69");
    CTestClient a, b;
    LoginAs(a, "1001", "ana");
    LoginAs(b, "1002", "bob");
    b.SetReceiveBuffer(256 * 1024);
    Establish(a, "1001", b, "1002");
    long rssBefore = m_server.RssKb();

    // b reads nothing while a sends 12 MB of video with a key-frame request every 64 frames.
    Bytes video = BuildVideo(Bytes(32 * 1024, 0x44).data(), 32 * 1024, 115200, false);
    const int frames = 384;
    int requests = 0;
    std::thread sender([&] {
        for (int i = 0; i < frames; ++i) {
            a.Send(kChannelVideo, video, kTagVideo);
            if (i % 64 == 0) {
                a.Control(BuildShortRecord(MSG_VIDEO_KEYFRAME));
                ++requests;
            }
        }
        a.Send(kChannelText, BuildText("end"));
    });
    sender.join();
    long rssPeak = m_server.RssKb();
    // Whatever the kernel buffers hold, the server keeps only its bounded queue.
    EXPECT_LT(rssPeak - rssBefore, 24 * 1024) << "server memory grew by " << rssPeak - rssBefore << " KiB";

    int keyRequests = 0, videos = 0;
    bool end = false;
    while (!end) {
        auto f = b.Receive(10000);
        ASSERT_TRUE(f) << "stopped after " << videos << " videos, " << keyRequests << " requests";
        if (f->header.channel == kChannelVideo)
            ++videos;
        if (f->header.channel == kChannelControl && f->payload == BuildShortRecord(MSG_VIDEO_KEYFRAME))
            ++keyRequests;
        if (f->header.channel == kChannelText)
            end = true;
    }
    EXPECT_EQ(keyRequests, requests);
    EXPECT_LT(videos, frames);
    EXPECT_GT(videos, 0);
    EXPECT_TRUE(m_server.WaitForLog("media dropped"));
}

// A party that floods chat faster than its peer reads is itself read more slowly: the reader is never
// pushed past the hard limit and cut off, and every line arrives, in order.
TEST_F(ServerProcess, AChatFloodSlowsItsSenderAndLosesNoLine) {
    AddUsers({{"1001", "ana", "Ana"}, {"1002", "bob", "Bob"}});
    StartServer("127.0.0.73");
    CTestClient a, b;
    LoginAs(a, "1001", "ana");
    LoginAs(b, "1002", "bob");
    b.SetReceiveBuffer(256 * 1024);
    Establish(a, "1001", b, "1002");

    // 16 MiB of chat, twice the most the server holds for one reader, while b reads nothing.
    const int lines = 1024;
    const std::string filler(16 * 1024 - 16, '.');
    std::atomic<int> sent{0};
    std::thread sender([&] {
        for (int i = 0; i < lines; ++i) {
            if (!a.Send(kChannelText, BuildText(std::to_string(i) + " " + filler)))
                return;
            ++sent;
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_LT(sent.load(), lines) << "the sender was never slowed";

    int received = 0;
    while (received < lines) {
        auto f = b.Receive(10000);
        ASSERT_TRUE(f) << "b stopped after " << received << " lines";
        if (f->header.channel != kChannelText)
            continue;
        std::string text;
        ASSERT_TRUE(ParseText(f->payload.data(), f->payload.size(), text));
        ASSERT_EQ(std::to_string(received) + " " + filler, text);
        ++received;
    }
    sender.join();
    EXPECT_EQ(sent.load(), lines);
    EXPECT_FALSE(m_server.Logged("reads too slowly"));
}

TEST_F(ServerProcess, DirectoryAndHelpPages) {
    {
        CAccountStore store;
        ASSERT_TRUE(store.Open(m_db, true));
        CUserProfile ana{"1001", "Ana Gil", "ES", "Madrid", "F", "ES", "jazz"};
        CUserProfile bob{"1002", "Bob", "UK", "London", "M", "EN", "chess"};
        ASSERT_EQ(store.AddUser(ana, "ana", EHashCost::Minimal), CAccountStore::EResult::Done);
        ASSERT_EQ(store.AddUser(bob, "bob", EHashCost::Minimal), CAccountStore::EResult::Done);
    }
    StartServer("127.0.0.70");
    CTestClient a, g;
    LoginAs(a, "1001", "ana");
    LoginAs(g, "888888888888888", "888888888888888");

    // The address the client builds: "http://" + host + the relative address + the query it appends.
    httplib::Client http(m_server.Address(), m_server.HttpPort());
    auto res = http.Get("/directory?soft=1&Pais=&Ciudad=&Sexo=&Idioma=&Pal_Clave=");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("href=\"/directory?callto=1001\""), std::string::npos);
    EXPECT_NE(res->body.find("href=\"/directory?addntv=1001\""), std::string::npos);
    EXPECT_NE(res->body.find("href=\"/directory?callto=1002\""), std::string::npos);
    EXPECT_EQ(res->body.find("888888888888888"), std::string::npos);
    EXPECT_NE(res->body.find("Connected"), std::string::npos);

    res = http.Get("/directory?soft=1&Pais=ES&Ciudad=mad&Sexo=F&Idioma=ES&Pal_Clave=JAZZ");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("callto=1001"), std::string::npos);
    EXPECT_EQ(res->body.find("callto=1002"), std::string::npos);
    res = http.Get("/directory?soft=1&Pais=UK&Ciudad=&Sexo=&Idioma=&Pal_Clave=");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.find("callto=1001"), std::string::npos);
    EXPECT_NE(res->body.find("callto=1002"), std::string::npos);

    httplib::Headers spanish = {{"Accept-Language", "es-ES,es;q=0.9"}};
    res = http.Get("/help", spanish);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("Ayuda"), std::string::npos);
    res = http.Get("/help");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("Velaphon help"), std::string::npos);
    res = http.Get("/nothing");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
}

TEST_F(ServerProcess, StopsCleanlyOnSignals) {
    AddUsers({{"1001", "ana", "Ana"}});
    for (int signal : {SIGTERM, SIGINT}) {
        CServerProcess server;
        ASSERT_TRUE(server.Start(m_db, "127.0.0.71"));
        CTestClient a;
        ASSERT_TRUE(a.Connect(server.Address(), server.Port()));
        ASSERT_TRUE(a.LoginFully("1001", "ana"));
        EXPECT_EQ(server.Stop(signal), 0);
        EXPECT_TRUE(a.WaitClosed());
        bool stopped = false;
        for (const auto& line : server.Lines())
            stopped |= line == "stopped";
        EXPECT_TRUE(stopped);
    }
}

}  // namespace
