#include <gtest/gtest.h>

#include <map>
#include <set>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/ServerLog.h"
#include "server/Switchboard.h"
#include "unit/server/SwitchboardFakes.h"

namespace {

using sbtest::CFakeHost;
using sbtest::CSent;
using sbtest::Frame;

Bytes Code(uint8_t code) {
    return BuildShortRecord(code);
}

class SwitchboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetServerLogSink([](const std::string&) {});
        ASSERT_TRUE(m_store.Open(":memory:", true));
        AddUser("1001", "ana", "Ana Gil");
        AddUser("1002", "bob", "Bob");
        AddUser("1003", "cy", "");
        CSwitchboardConfig config;
        config.strDirectoryAddress = ":8080/directory";
        config.strHelpAddress = ":8080/help";
        config.nPingIntervalMs = 1000;
        config.nFirstCallId = 0x01020304;
        m_board = std::make_unique<CSwitchboard>(m_store, m_host, config);
    }
    void TearDown() override { SetServerLogSink(nullptr); }

    void AddUser(const std::string& ntv, const std::string& pw, const std::string& name) {
        CUserProfile p;
        p.strNtv = ntv;
        p.strName = name;
        ASSERT_EQ(m_store.AddUser(p, pw, EHashCost::Minimal), CAccountStore::EResult::Done);
    }

    void Feed(ConnId id, uint8_t channel, const Bytes& payload, uint64_t now = 0) {
        Bytes frame = Frame(channel, payload);
        SFrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(frame.data(), frame.size(), h));
        m_board->OnFrame(id, h, std::move(frame), now == 0 ? m_now : now);
    }
    void Control(ConnId id, const Bytes& record) { Feed(id, kChannelControl, record); }

    void Connect(ConnId id) { m_board->OnConnected(id, "127.0.0.1:" + std::to_string(40000 + id), m_now); }

    // Connects and logs in; returns the replies.
    std::vector<CSent> Login(ConnId id, const std::string& ntv, const std::string& pw,
                             const std::string& version = "0200003") {
        Connect(id);
        Control(id, BuildLogin(ntv, pw, "127.0.0.1", version, 0));
        m_host.RunChecks();
        return m_host.Take(id);
    }

    // Both logged in, a calls b; returns the call id once b has accepted.
    uint32_t Establish(ConnId a, const std::string& aNtv, ConnId b, const std::string& bNtv) {
        Control(a, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        auto id = m_host.Take(a);
        uint32_t callId = 0;
        EXPECT_EQ(id.size(), 1u);
        EXPECT_TRUE(ParseCallIdRecord(id[0].payload.data(), id[0].payload.size(), callId));
        Control(a, BuildCallSetup(callId, aNtv, "A name", bNtv));
        EXPECT_EQ(m_host.Take(b).size(), 1u);
        Control(b, BuildCallIdRecord(MSG_CALL_ACCEPT, callId));
        auto accepted = m_host.Take(b);
        EXPECT_EQ(accepted.size(), 1u);
        if (!accepted.empty()) {
            EXPECT_EQ(accepted[0].payload, Code(MSG_CALL_ACCEPTED));
        }
        return callId;
    }

    char StatusOf(ConnId asker, const std::string& ntv) {
        Control(asker, BuildContactStatusQuery(ntv));
        auto r = m_host.Take(asker);
        EXPECT_EQ(r.size(), 1u);
        if (r.size() != 1)
            return '?';
        EXPECT_EQ(r[0].payload.size(), kContactStatusSize);
        EXPECT_EQ(r[0].payload, BuildContactStatus(ntv, static_cast<char>(r[0].payload[273])));
        return static_cast<char>(r[0].payload[273]);
    }

    CAccountStore m_store;
    CFakeHost m_host;
    std::unique_ptr<CSwitchboard> m_board;
    uint64_t m_now = 5000;
};

TEST_F(SwitchboardTest, LoginAnswersByteForByte) {
    auto r = Login(1, "1001", "ana");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].channel, kChannelControl);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_LOGIN_OK, 0}));
    // User information: addresses at 1 and 202, the name at 403, the record ends with its NUL.
    Bytes info = r[1].payload;
    ASSERT_EQ(info.size(), 403u + 7 + 1);
    EXPECT_EQ(info[0], MSG_USER_INFO);
    Bytes expected(info.size(), 0);
    expected[0] = MSG_USER_INFO;
    std::string dir = ":8080/directory", help = ":8080/help", name = "Ana Gil";
    std::copy(dir.begin(), dir.end(), expected.begin() + 1);
    std::copy(help.begin(), help.end(), expected.begin() + 202);
    std::copy(name.begin(), name.end(), expected.begin() + 403);
    EXPECT_EQ(info, expected);
    SUserInfo parsed;
    ASSERT_TRUE(ParseUserInfo(info.data(), info.size(), parsed));
    EXPECT_EQ(parsed.displayName, "Ana Gil");

    // Without a name the record is 404 bytes.
    r = Login(3, "1003", "cy");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].payload.size(), 404u);
    // The frames the server writes carry tag 0 and no flag.
    SFrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(r[0].frame.data(), r[0].frame.size(), h));
    EXPECT_EQ(h.magic, kFrameMagic);
    EXPECT_EQ(h.tag, 0u);
    EXPECT_EQ(h.flag, 0);
}

TEST_F(SwitchboardTest, LoginRefusals) {
    // Unknown NTV, wrong password: reason 2; the connection stays open for another try.
    EXPECT_EQ(Login(1, "4444", "x")[0].payload, (Bytes{MSG_LOGIN_ERROR, 2}));
    Control(1, BuildLogin("1001", "wrong", "", "0200003", 0));
    m_host.RunChecks();
    EXPECT_EQ(m_host.Take(1)[0].payload, (Bytes{MSG_LOGIN_ERROR, 2}));
    Control(1, BuildLogin("1001", "ana", "", "0200003", 0));
    m_host.RunChecks();
    EXPECT_EQ(m_host.Take(1)[0].payload, (Bytes{MSG_LOGIN_OK, 0}));
    EXPECT_TRUE(m_host.closed.empty());

    // The same NTV on a second connection: reason 8, but a wrong password still gives 2.
    auto second = Login(2, "1001", "ana");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].payload, (Bytes{MSG_LOGIN_ERROR, 8}));
    EXPECT_EQ(Login(3, "1001", "bad")[0].payload, (Bytes{MSG_LOGIN_ERROR, 2}));

    // The guest logs in any number of times, with itself as password only.
    for (ConnId id : {4, 5}) {
        auto g = Login(id, "888888888888888", "888888888888888");
        ASSERT_EQ(g.size(), 2u);
        EXPECT_EQ(g[0].payload, (Bytes{MSG_LOGIN_OK, 0}));
        EXPECT_EQ(g[1].payload.size(), 404u);
    }
    EXPECT_EQ(Login(6, "888888888888888", "guess")[0].payload, (Bytes{MSG_LOGIN_ERROR, 2}));

    // A short login record is not a login.
    Connect(7);
    Bytes shortLogin = BuildLogin("1002", "bob", "", "0200003", 0);
    shortLogin.resize(60);
    Control(7, shortLogin);
    m_host.RunChecks();
    EXPECT_TRUE(m_host.Take(7).empty());
    // Before a login nothing else is answered.
    Control(7, Code(MSG_CONTACTS));
    Control(7, BuildContactStatusQuery("1001"));
    Control(7, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    EXPECT_TRUE(m_host.Take(7).empty());
}

TEST_F(SwitchboardTest, NewVersionOnlyForOlderClients) {
    auto r = Login(1, "1001", "ana", "0100009");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].payload, (Bytes{MSG_NEW_VERSION, 0}));
    EXPECT_EQ(Login(2, "1002", "bob", "0200004").size(), 2u);
    EXPECT_EQ(Login(3, "1003", "cy", "0200003").size(), 2u);

    EXPECT_TRUE(IsOlderVersion("0200002", "0200003"));
    EXPECT_TRUE(IsOlderVersion("0199999", "0200003"));
    EXPECT_FALSE(IsOlderVersion("0200003", "0200003"));
    EXPECT_FALSE(IsOlderVersion("0300000", "0200003"));
    EXPECT_FALSE(IsOlderVersion("10000000", "0200003"));  // longer number, newer
    EXPECT_TRUE(IsOlderVersion("", "0200003"));
    EXPECT_TRUE(IsOlderVersion("abc", "0200003"));
}

TEST_F(SwitchboardTest, FramesWaitWhileThePasswordIsChecked) {
    Connect(1);
    Control(1, BuildLogin("1001", "ana", "", "0200003", 0));
    EXPECT_TRUE(m_host.paused[1]);
    EXPECT_EQ(m_host.checks.size(), 1u);
    EXPECT_TRUE(m_host.Take(1).empty());
    m_host.RunChecks();
    EXPECT_FALSE(m_host.paused[1]);
    EXPECT_EQ(m_host.Take(1).size(), 2u);

    // A connection that goes while its check runs is simply forgotten.
    Connect(2);
    Control(2, BuildLogin("1002", "bob", "", "0200003", 0));
    m_board->OnDisconnected(2, "test");
    m_host.RunChecks();
    EXPECT_TRUE(m_host.Take(2).empty());
    EXPECT_EQ(m_board->SessionCount(), 1u);
    // Its NTV is free again.
    EXPECT_EQ(Login(3, "1002", "bob").size(), 2u);
}

TEST_F(SwitchboardTest, Presence) {
    Login(1, "1001", "ana");
    EXPECT_EQ(StatusOf(1, "1002"), 'D');
    Login(2, "1002", "bob");
    EXPECT_EQ(StatusOf(1, "1002"), 'C');
    Control(2, BuildSetStatus('A'));
    EXPECT_EQ(StatusOf(1, "1002"), 'A');
    EXPECT_EQ(m_board->Presence().Get("1002"), 'A');
    Control(2, BuildSetStatus('Z'));  // not a status: ignored
    EXPECT_EQ(StatusOf(1, "1002"), 'A');
    Control(2, BuildSetStatus('C'));
    EXPECT_EQ(StatusOf(1, "1002"), 'C');
    m_board->OnDisconnected(2, "test");
    EXPECT_EQ(StatusOf(1, "1002"), 'D');
    EXPECT_EQ(StatusOf(1, "unknown"), 'D');
    // Guests are never shown as connected, not even to themselves.
    Login(3, "888888888888888", "888888888888888");
    EXPECT_EQ(StatusOf(3, "888888888888888"), 'D');
    EXPECT_EQ(StatusOf(3, "1001"), 'C');
}

TEST_F(SwitchboardTest, ContactListIsStoredAtOnce) {
    Login(1, "1001", "ana");
    Control(1, BuildContactRecord(MSG_CONTACT_ADD, "1002", "Bobby"));
    Control(1, BuildContactRecord(MSG_CONTACT_ADD, "5555", ""));
    Control(1, BuildContactRecord(MSG_CONTACT_ADD, "", "no NTV"));
    Control(1, BuildContactRecord(MSG_CONTACT_ADD, "7777", "to go"));
    Control(1, BuildContactRemove("7777"));
    EXPECT_TRUE(m_host.Take(1).empty());  // changes are not answered
    EXPECT_EQ(m_store.Contacts("1001").size(), 2u);

    m_board->OnDisconnected(1, "test");
    Login(2, "1001", "ana");
    Control(2, Code(MSG_CONTACTS));
    auto r = m_host.Take(2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].payload, BuildContactRecord(MSG_CONTACTS, "1002", "Bobby"));
    EXPECT_EQ(r[0].payload.size(), kContactSize);
    EXPECT_EQ(r[1].payload, BuildContactRecord(MSG_CONTACTS, "5555", ""));

    // A guest has no stored list.
    Login(3, "888888888888888", "888888888888888");
    Control(3, BuildContactRecord(MSG_CONTACT_ADD, "1002", "x"));
    Control(3, Code(MSG_CONTACTS));
    EXPECT_TRUE(m_host.Take(3).empty());
}

TEST_F(SwitchboardTest, CallSetUpAcceptRelayAndHangUp) {
    Login(1, "1001", "ana");
    Login(2, "1002", "bob");
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    auto r = m_host.Take(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_CALL_ID, 4, 3, 2, 1}));  // u32 little-endian

    Bytes setup = BuildCallSetup(0x01020304, "1001", "Ana Gil", "1002");
    Control(1, setup);
    r = m_host.Take(2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, setup);
    EXPECT_EQ(r[0].payload.size(), kCallSetupSize);
    EXPECT_TRUE(m_host.Take(1).empty());

    // Before the answer no media pass.
    Feed(1, kChannelAudio, Bytes(20, 7));
    EXPECT_TRUE(m_host.Take(2).empty());

    Control(2, BuildCallIdRecord(MSG_CALL_ACCEPT, 0x01020304));
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_CALL_ACCEPTED, 0}));
    Control(2, Code(MSG_CALL_CONNECTED));
    r = m_host.Take(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_CALL_CONNECTED, 0}));

    // Text, audio, video and the video control messages pass unchanged, header and all, in order.
    Bytes text = Frame(kChannelText, BuildText("hi"), "1001");
    Bytes audio = Frame(kChannelAudio, Bytes(172, 0x55), "1001");
    Bytes video = Frame(kChannelVideo, Bytes(900, 0x66), "1001", kTagVideo);
    Bytes format = Frame(kChannelControl, BuildVideoFormat(SBitmapInfoHeader{}), "1001");
    for (const Bytes* f : {&text, &audio, &video, &format}) {
        SFrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(f->data(), f->size(), h));
        m_board->OnFrame(1, h, Bytes(*f), m_now);
    }
    Feed(2, kChannelControl, Code(MSG_VIDEO_KEYFRAME));
    Feed(2, kChannelControl, Code(MSG_VIDEO_STOP));
    Feed(2, kChannelAudio, Bytes(30, 1));
    Feed(2, 3, Bytes(10, 1));  // no such channel
    r = m_host.Take(2);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].frame, text);
    EXPECT_FALSE(r[0].bDroppable);
    EXPECT_EQ(r[1].frame, audio);
    EXPECT_TRUE(r[1].bDroppable);
    EXPECT_EQ(r[2].frame, video);
    EXPECT_TRUE(r[2].bDroppable);
    EXPECT_EQ(r[3].frame, format);
    EXPECT_FALSE(r[3].bDroppable);
    r = m_host.Take(1);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].payload, Code(MSG_VIDEO_KEYFRAME));
    EXPECT_EQ(r[1].payload, Code(MSG_VIDEO_STOP));
    EXPECT_EQ(r[2].payload, Bytes(30, 1));

    // Hang-up goes to the other party; the call end that follows changes nothing more.
    Control(1, Code(MSG_HANGUP));
    Control(1, Code(MSG_CALL_END));
    r = m_host.Take(2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_HANGUP, 0}));
    EXPECT_TRUE(m_host.Take(1).empty());
    EXPECT_EQ(m_board->CallCount(), 0u);
    Feed(1, kChannelAudio, Bytes(20, 7));
    EXPECT_TRUE(m_host.Take(2).empty());
}

TEST_F(SwitchboardTest, CallToSomeoneNotConnectedComesBackRefused) {
    Login(1, "1001", "ana");
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    m_host.Take(1);
    for (const char* called : {"1002", "9999", "888888888888888"}) {
        Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        auto id = m_host.Take(1);
        uint32_t callId = 0;
        ASSERT_TRUE(ParseCallIdRecord(id[0].payload.data(), id[0].payload.size(), callId));
        Bytes setup = BuildCallSetup(callId, "1001", "Ana Gil", called);
        Control(1, setup);
        auto r = m_host.Take(1);
        ASSERT_EQ(r.size(), 1u) << called;
        Bytes expected;
        ASSERT_TRUE(BuildCallRefused(setup.data(), setup.size(), kRefusedNoAnswer, expected));
        EXPECT_EQ(r[0].payload, expected) << called;
        EXPECT_EQ(r[0].payload[0], MSG_CALL_REFUSED);
        EXPECT_EQ(r[0].payload[327], 18);
    }
    EXPECT_EQ(m_board->CallCount(), 0u);
}

TEST_F(SwitchboardTest, RefusalsReachTheCallerEvenAfterItGaveUp) {
    Login(1, "1001", "ana");
    Login(2, "1002", "bob");
    Login(3, "1003", "cy");
    // A refusal while ringing: the caller gets the callee's record unchanged.
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    m_host.Take(1);
    Bytes setup = BuildCallSetup(0x01020304, "1001", "Ana Gil", "1002");
    Control(1, setup);
    Bytes busy;
    ASSERT_TRUE(BuildCallRefused(m_host.Take(2)[0].payload.data(), kCallSetupSize, kRefusedBusy, busy));
    Control(2, busy);
    auto r = m_host.Take(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, busy);
    EXPECT_EQ(m_board->CallCount(), 0u);
    // The caller then hangs up as its client does: nobody hears of it.
    Control(1, Code(MSG_HANGUP));
    Control(1, Code(MSG_CALL_END));
    EXPECT_TRUE(m_host.Take(2).empty());

    // The caller's time-out ends the set-up first: the callee gets an abort, the late refusal still arrives.
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    uint32_t callId = 0;
    r = m_host.Take(1);
    ASSERT_TRUE(ParseCallIdRecord(r[0].payload.data(), r[0].payload.size(), callId));
    Control(1, BuildCallSetup(callId, "1001", "Ana Gil", "1002"));
    Bytes ringing = m_host.Take(2)[0].payload;
    Control(1, Code(MSG_HANGUP));
    Control(1, Code(MSG_CALL_END));
    r = m_host.Take(2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_CALL_ABORT, 0}));
    Bytes late;
    ASSERT_TRUE(BuildCallRefused(ringing.data(), ringing.size(), kRefusedNoAnswer, late));
    // Somebody else cannot send it in the callee's place.
    Control(3, late);
    EXPECT_TRUE(m_host.Take(1).empty());
    Control(2, late);
    r = m_host.Take(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, late);
    // Only once.
    Control(2, late);
    EXPECT_TRUE(m_host.Take(1).empty());
    // An accept after the abort is answered by another abort, and no call starts.
    Control(2, BuildCallIdRecord(MSG_CALL_ACCEPT, callId));
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_CALL_ABORT, 0}));
    EXPECT_EQ(m_board->CallCount(), 0u);
}

TEST_F(SwitchboardTest, TheCallerIsWhoLoggedInWhateverTheRecordSays) {
    Login(1, "1001", "ana");
    Login(2, "1002", "bob");
    Login(3, "1003", "cy");
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    m_host.Take(1);
    Control(1, BuildCallSetup(0x01020304, "1003", "Ana Gil", "1002"));
    auto r = m_host.Take(2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, BuildCallSetup(0x01020304, "1001", "Ana Gil", "1002"));

    // A set-up for a call that was never requested, or requested by someone else, goes nowhere.
    Control(3, BuildCallSetup(0x01020304, "1003", "Cy", "1002"));
    Control(3, BuildCallSetup(0x7777, "1003", "Cy", "1002"));
    EXPECT_TRUE(m_host.Take(2).empty());
    // Nor can a third party accept it.
    Control(3, BuildCallIdRecord(MSG_CALL_ACCEPT, 0x01020304));
    EXPECT_EQ(m_host.Take(3)[0].payload, (Bytes{MSG_CALL_ABORT, 0}));
    Control(2, BuildCallIdRecord(MSG_CALL_ACCEPT, 0x01020304));
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_CALL_ACCEPTED, 0}));
}

TEST_F(SwitchboardTest, CallEndWithoutHangUpStillTellsThePeer) {
    Login(1, "1001", "ana");
    Login(2, "1002", "bob");
    Establish(1, "1001", 2, "1002");
    Control(2, Code(MSG_CALL_END));
    auto r = m_host.Take(1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].payload, (Bytes{MSG_HANGUP, 0}));
    // A second request while in a call ends the first one.
    Establish(1, "1001", 2, "1002");
    Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_HANGUP, 0}));
    EXPECT_EQ(m_board->CallCount(), 1u);
}

TEST_F(SwitchboardTest, PingsAndSilentConnections) {
    Login(1, "1001", "ana");
    Connect(2);  // never logs in
    Login(3, "1002", "bob");
    m_board->OnTimer(m_now + 999);
    EXPECT_TRUE(m_host.Take(1).empty());
    m_board->OnTimer(m_now + 1000);
    for (ConnId id : {1, 2, 3}) {
        auto r = m_host.Take(id);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].payload, (Bytes{MSG_PING, 0}));
        EXPECT_EQ(r[0].frame.size(), kFrameHeaderSize + 2);
    }
    // Connection 3 answers; the others stay silent for three intervals and are closed.
    Feed(3, kChannelControl, Code(MSG_PING), m_now + 1500);
    m_board->OnTimer(m_now + 2999);
    EXPECT_TRUE(m_host.closed.empty());
    m_board->OnTimer(m_now + 3000);
    EXPECT_EQ(m_host.closed, (std::set<ConnId>{1, 2}));
    EXPECT_EQ(m_board->SessionCount(), 1u);
    EXPECT_EQ(m_board->Presence().Get("1001"), 'D');
    m_board->OnTimer(m_now + 4499);
    EXPECT_EQ(m_host.closed.size(), 2u);
    m_board->OnTimer(m_now + 4500);
    EXPECT_EQ(m_host.closed.size(), 3u);
}

TEST_F(SwitchboardTest, OddRecordsAreIgnored) {
    Login(1, "1001", "ana");
    Login(2, "1002", "bob");
    Establish(1, "1001", 2, "1002");
    // Every code with every short length, an empty control message, unknown codes.
    for (int code = 0; code < 256; ++code) {
        if (code == MSG_HANGUP || code == MSG_CALL_END || code == MSG_CALL_REQUEST)
            continue;
        for (size_t len : {1, 2, 4, 16, 100, 272, 327}) {
            Bytes record(len, 0);
            record[0] = static_cast<uint8_t>(code);
            Control(1, record);
        }
    }
    Control(1, Bytes{});
    EXPECT_EQ(m_board->CallCount(), 1u);
    EXPECT_TRUE(m_host.closed.empty());
    m_host.Take(1);
    m_host.Take(2);
    // The call still relays.
    Feed(1, kChannelAudio, Bytes(5, 9));
    EXPECT_EQ(m_host.Take(2).size(), 1u);
}

}  // namespace

namespace {

// The other nodes as the switchboard sees them: claims and look-ups wait until the test answers them.
class CFakeCluster : public IClusterDirectory {
public:
    void Claim(const std::string& ntv, char letter, std::function<void(EClaimResult)> done) override {
        claims.push_back({ntv, std::move(done)});
        letters[ntv] = letter;
    }
    void Release(const std::string& ntv) override { released.push_back(ntv); }
    void SetLetter(const std::string& ntv, char letter) override { letters[ntv] = letter; }
    void LookUp(const std::string& ntv, std::function<void(char)> done) override {
        lookups.push_back({ntv, std::move(done)});
    }
    void Locate(const std::string& ntv, std::function<void(const std::string&)> done) override {
        located.push_back({ntv, std::move(done)});
    }
    void SetLostHandler(std::function<void(const std::string&)> handler) override {
        lost = std::move(handler);
    }

    // Answers the oldest claim.
    void Answer(EClaimResult result) {
        ASSERT_FALSE(claims.empty());
        auto done = std::move(claims.front().second);
        claims.erase(claims.begin());
        done(result);
    }

    std::vector<std::pair<std::string, std::function<void(EClaimResult)>>> claims;
    std::vector<std::pair<std::string, std::function<void(char)>>> lookups;
    std::vector<std::pair<std::string, std::function<void(const std::string&)>>> located;
    std::vector<std::string> released;
    std::map<std::string, char> letters;
    std::function<void(const std::string&)> lost;
};

class ClusterSwitchboardTest : public SwitchboardTest {
protected:
    void SetUp() override {
        SwitchboardTest::SetUp();
        CSwitchboardConfig config;
        config.nFirstCallId = 0x00fffffe;
        config.nNodeId = 5;
        m_board = std::make_unique<CSwitchboard>(m_store, m_host, config, &m_cluster);
    }
    // Logs in as far as the claim, which stays unanswered.
    void LoginUntilClaimed(ConnId id, const std::string& ntv, const std::string& pw) {
        Connect(id);
        Control(id, BuildLogin(ntv, pw, "127.0.0.1", "0200003", 0));
        m_host.RunChecks();
    }
    std::vector<CSent> LoginClaimed(ConnId id, const std::string& ntv, const std::string& pw) {
        LoginUntilClaimed(id, ntv, pw);
        m_cluster.Answer(EClaimResult::Claimed);
        return m_host.Take(id);
    }

    CFakeCluster m_cluster;
};

TEST_F(ClusterSwitchboardTest, LoginsWaitForTheClaimAndFollowItsAnswer) {
    LoginUntilClaimed(1, "1001", "ana");
    ASSERT_EQ(m_cluster.claims.size(), 1u);
    EXPECT_EQ(m_cluster.claims[0].first, "1001");
    EXPECT_TRUE(m_host.paused[1]);
    EXPECT_TRUE(m_host.Take(1).empty());
    m_cluster.Answer(EClaimResult::Claimed);
    EXPECT_FALSE(m_host.paused[1]);
    EXPECT_EQ(m_host.Take(1)[0].payload, (Bytes{MSG_LOGIN_OK, 0}));

    // Held by a live node: reason 8, and the connection stays for another try.
    LoginUntilClaimed(2, "1002", "bob");
    m_cluster.Answer(EClaimResult::HeldElsewhere);
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_LOGIN_ERROR, 8}));
    EXPECT_FALSE(m_host.paused[2]);
    EXPECT_EQ(m_host.closed.count(2), 0u);

    // The store out of reach: no answer the client would give up on; it is closed and tries again.
    LoginUntilClaimed(3, "1003", "cy");
    m_cluster.Answer(EClaimResult::Unavailable);
    EXPECT_TRUE(m_host.Take(3).empty());
    EXPECT_EQ(m_host.closed.count(3), 1u);
    EXPECT_EQ(m_board->SessionCount(), 2u);

    // Wrong passwords and a second login on this node are settled without asking the other nodes.
    EXPECT_EQ(Login(4, "1001", "bad")[0].payload, (Bytes{MSG_LOGIN_ERROR, 2}));
    EXPECT_EQ(Login(5, "1001", "ana")[0].payload, (Bytes{MSG_LOGIN_ERROR, 8}));
    EXPECT_TRUE(m_cluster.claims.empty());
    EXPECT_TRUE(m_cluster.released.empty());

    // Logging out gives the claim up; a refused login never does.
    m_board->OnDisconnected(2, "test");
    EXPECT_TRUE(m_cluster.released.empty());
    m_board->OnDisconnected(1, "test");
    EXPECT_EQ(m_cluster.released, std::vector<std::string>{"1001"});
}

TEST_F(ClusterSwitchboardTest, ClaimsThatComeTooLateOrTwiceAreUndone) {
    // The connection went while its claim was out: the claim is given back.
    LoginUntilClaimed(1, "1001", "ana");
    m_board->OnDisconnected(1, "test");
    m_cluster.Answer(EClaimResult::Claimed);
    EXPECT_EQ(m_cluster.released, std::vector<std::string>{"1001"});
    m_cluster.released.clear();

    // Two logins of one NTV on this node, both claiming: the first wins, the second gets 8 and leaves
    // the claim to the first.
    LoginUntilClaimed(2, "1002", "bob");
    LoginUntilClaimed(3, "1002", "bob");
    ASSERT_EQ(m_cluster.claims.size(), 2u);
    m_cluster.Answer(EClaimResult::Claimed);
    m_cluster.Answer(EClaimResult::Claimed);
    EXPECT_EQ(m_host.Take(2)[0].payload, (Bytes{MSG_LOGIN_OK, 0}));
    EXPECT_EQ(m_host.Take(3)[0].payload, (Bytes{MSG_LOGIN_ERROR, 8}));
    EXPECT_TRUE(m_cluster.released.empty());
}

TEST_F(ClusterSwitchboardTest, PresenceAndLettersAcrossNodes) {
    LoginClaimed(1, "1001", "ana");
    Control(1, BuildSetStatus('B'));
    EXPECT_EQ(m_cluster.letters["1001"], 'A');

    // Local users are answered at once; others through the directory, answered when it knows.
    Login(9, "888888888888888", "888888888888888");
    EXPECT_EQ(StatusOf(9, "1001"), 'A');
    EXPECT_EQ(StatusOf(9, "888888888888888"), 'D');
    EXPECT_TRUE(m_cluster.lookups.empty());
    Control(9, BuildContactStatusQuery("2002"));
    Control(9, BuildContactStatusQuery("2003"));
    EXPECT_TRUE(m_host.Take(9).empty());
    ASSERT_EQ(m_cluster.lookups.size(), 2u);
    m_cluster.lookups[1].second('D');
    m_cluster.lookups[0].second('C');
    auto r = m_host.Take(9);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].payload, BuildContactStatus("2003", 'D'));
    EXPECT_EQ(r[1].payload, BuildContactStatus("2002", 'C'));
    // An answer for a connection that has gone goes nowhere.
    Control(9, BuildContactStatusQuery("2002"));
    m_board->OnDisconnected(9, "test");
    m_cluster.lookups.back().second('C');
    EXPECT_TRUE(m_host.Take(9).empty());
}

TEST_F(ClusterSwitchboardTest, ASessionWhoseClaimAnotherNodeWonEnds) {
    LoginClaimed(1, "1001", "ana");
    LoginClaimed(2, "1002", "bob");
    ASSERT_TRUE(m_cluster.lost);
    m_cluster.lost("1001");
    EXPECT_EQ(m_host.closed.count(1), 1u);
    EXPECT_EQ(m_board->SessionCount(), 1u);
    EXPECT_EQ(m_board->Presence().Get("1001"), 'D');
    m_cluster.lost("1001");  // twice, or for an NTV not here: nothing
    m_cluster.lost("4444");
    EXPECT_EQ(m_board->SessionCount(), 1u);
}

TEST_F(ClusterSwitchboardTest, CallIdsCarryTheNodeNumber) {
    LoginClaimed(1, "1001", "ana");
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        Control(1, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        auto r = m_host.Take(1);
        ASSERT_EQ(r.size(), 1u);
        uint32_t id = 0;
        ASSERT_TRUE(ParseCallIdRecord(r[0].payload.data(), r[0].payload.size(), id));
        ids.push_back(id);
    }
    // The local count wraps within the node's range, which stays below 2^31.
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x05fffffe, 0x05ffffff, 0x05000000}));
}

}  // namespace
