// Calls between users of two nodes: two switchboards joined by a bus that delivers in order when pumped,
// and a directory that knows which node holds which NTV.
#include <gtest/gtest.h>

#include <deque>

#include "net/Frame.h"
#include "net/Protocol.h"
#include "server/AccountStore.h"
#include "server/NodeMessage.h"
#include "server/ServerLog.h"
#include "unit/server/SwitchboardFakes.h"

namespace {

using sbtest::CFakeHost;
using sbtest::CSent;
using sbtest::Frame;

// The bus and the claims of the test's cluster.
struct CFakeCluster {
    std::map<std::string, CSwitchboard*> boards;
    std::deque<std::pair<std::string, Bytes>> inFlight;
    std::set<std::string> deaf;  // nodes whose messages are lost
    std::map<std::string, std::string> holders;
    std::vector<bool> droppable;

    void Pump() {
        while (!inFlight.empty()) {
            auto [node, message] = std::move(inFlight.front());
            inFlight.pop_front();
            if (boards.count(node) != 0 && deaf.count(node) == 0)
                boards[node]->OnNodeMessage(message.data(), message.size());
        }
    }
};

class CNodeDirectory : public IClusterDirectory, public IClusterBus {
public:
    CNodeDirectory(std::string node, CFakeCluster& cluster)
        : m_strNode(std::move(node)), m_Cluster(cluster) {}

    void Claim(const std::string& ntv, char, std::function<void(EClaimResult)> done) override {
        m_Cluster.holders[ntv] = m_strNode;
        done(EClaimResult::Claimed);
    }
    void Release(const std::string& ntv) override {
        if (m_Cluster.holders[ntv] == m_strNode)
            m_Cluster.holders.erase(ntv);
    }
    void SetLetter(const std::string&, char) override {}
    void LookUp(const std::string&, std::function<void(char)> done) override { done('D'); }
    void Locate(const std::string& ntv, std::function<void(const std::string&)> done) override {
        locates.push_back({ntv, std::move(done)});
    }
    void SetLostHandler(std::function<void(const std::string&)>) override {}
    // Answers the waiting searches from the claims as they are now.
    void AnswerLocates() {
        auto pending = std::move(locates);
        locates.clear();
        for (auto& [ntv, done] : pending)
            done(m_Cluster.holders.count(ntv) != 0 ? m_Cluster.holders[ntv] : std::string());
    }

    const std::string& Node() const override { return m_strNode; }
    bool IsUp() const override { return bUp; }
    void SendTo(const std::string& node, std::vector<uint8_t> message, bool bDroppable) override {
        m_Cluster.inFlight.push_back({node, std::move(message)});
        m_Cluster.droppable.push_back(bDroppable);
    }
    void Watch(std::vector<std::string> nodes) override { watched = std::move(nodes); }

    std::vector<std::pair<std::string, std::function<void(const std::string&)>>> locates;
    std::vector<std::string> watched;
    bool bUp = true;

private:
    std::string m_strNode;
    CFakeCluster& m_Cluster;
};

class NodeCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetServerLogSink([](const std::string&) {});
        ASSERT_TRUE(m_store.Open(":memory:", true));
        for (auto [ntv, pw] : {std::pair{"1001", "ana"}, {"1002", "bob"}}) {
            CUserProfile p;
            p.strNtv = ntv;
            ASSERT_EQ(m_store.AddUser(p, pw, EHashCost::Minimal), CAccountStore::EResult::Done);
        }
        CSwitchboardConfig a, b;
        a.nNodeId = 1;
        b.nNodeId = 2;
        m_a = std::make_unique<CSwitchboard>(m_store, m_hostA, a, &m_dirA, &m_dirA);
        m_b = std::make_unique<CSwitchboard>(m_store, m_hostB, b, &m_dirB, &m_dirB);
        m_cluster.boards = {{"A", m_a.get()}, {"B", m_b.get()}};
        Login(*m_a, m_hostA, kAna, "1001", "ana");
        Login(*m_b, m_hostB, kBob, "1002", "bob");
    }
    void TearDown() override { SetServerLogSink(nullptr); }

    static void Login(CSwitchboard& board, CFakeHost& host, ConnId id, const char* ntv, const char* pw) {
        board.OnConnected(id, "127.0.0.1:4000", 0);
        Control(board, id, BuildLogin(ntv, pw, "127.0.0.1", "0200003", 0));
        host.RunChecks();
        host.Take(id);
    }
    static void Feed(CSwitchboard& board, ConnId id, const Bytes& frame) {
        SFrameHeader h;
        ASSERT_TRUE(ParseFrameHeader(frame.data(), frame.size(), h));
        board.OnFrame(id, h, Bytes(frame), 0);
    }
    static void Control(CSwitchboard& board, ConnId id, const Bytes& record) {
        Feed(board, id, Frame(kChannelControl, record));
    }
    static std::vector<Bytes> Payloads(const std::vector<CSent>& sent) {
        std::vector<Bytes> out;
        for (const CSent& s : sent)
            out.push_back(s.payload);
        return out;
    }

    // Ana on node A calls Bob on node B; returns the call id once his set-up has reached him.
    uint32_t Ring() {
        Control(*m_a, kAna, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
        auto id = m_hostA.Take(kAna);
        uint32_t callId = 0;
        EXPECT_TRUE(ParseCallIdRecord(id.at(0).payload.data(), id.at(0).payload.size(), callId));
        m_setup = BuildCallSetup(callId, "1001", "Ana", "1002");
        Control(*m_a, kAna, m_setup);
        m_dirA.AnswerLocates();
        m_cluster.Pump();
        EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{m_setup});
        return callId;
    }
    uint32_t Establish() {
        uint32_t id = Ring();
        Control(*m_b, kBob, BuildCallIdRecord(MSG_CALL_ACCEPT, id));
        m_cluster.Pump();
        EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{BuildShortRecord(MSG_CALL_ACCEPTED)});
        return id;
    }
    Bytes RefusedBy(uint8_t reason) {
        Bytes refused;
        BuildCallRefused(m_setup.data(), m_setup.size(), reason, refused);
        return refused;
    }

    static constexpr ConnId kAna = 1, kBob = 2;
    CAccountStore m_store;
    CFakeCluster m_cluster;
    CNodeDirectory m_dirA{"A", m_cluster}, m_dirB{"B", m_cluster};
    CFakeHost m_hostA, m_hostB;
    std::unique_ptr<CSwitchboard> m_a, m_b;
    Bytes m_setup;
};

TEST(NodeMessageTest, LayoutByteForByteAndWhatIsRefused) {
    Bytes body(kCallSetupSize, 0x5a);
    Bytes m = BuildNodeMessage({ENodeMessage::Setup, 0x01020304, "2-ab", body});
    Bytes head = {1, 0x01, 0x02, 0x03, 0x04, 4, '2', '-', 'a', 'b'};
    ASSERT_EQ(m.size(), head.size() + body.size());
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 10), head);
    SNodeMessage parsed;
    ASSERT_TRUE(ParseNodeMessage(m.data(), m.size(), parsed));
    EXPECT_EQ(parsed.eKind, ENodeMessage::Setup);
    EXPECT_EQ(parsed.nCallId, 0x01020304u);
    EXPECT_EQ(parsed.strFrom, "2-ab");
    EXPECT_EQ(parsed.body, body);
    EXPECT_EQ(BuildNodeMessage({ENodeMessage::Hangup, 7, "n", {}}), (Bytes{6, 0, 0, 0, 7, 1, 'n'}));

    EXPECT_FALSE(ParseNodeMessage(m.data(), m.size() - 1, parsed));  // a set-up record cut short
    Bytes kind = m;
    kind[0] = 8;
    EXPECT_FALSE(ParseNodeMessage(kind.data(), kind.size(), parsed));
    Bytes noName = {6, 0, 0, 0, 7, 0};
    EXPECT_FALSE(ParseNodeMessage(noName.data(), noName.size(), parsed));
    Bytes hangupWithBody = {6, 0, 0, 0, 7, 1, 'n', 0};
    EXPECT_FALSE(ParseNodeMessage(hangupWithBody.data(), hangupWithBody.size(), parsed));
    Bytes frame = Frame(kChannelText, {'h', 'i'});
    Bytes framed = BuildNodeMessage({ENodeMessage::Frame, 7, "n", frame});
    EXPECT_TRUE(ParseNodeMessage(framed.data(), framed.size(), parsed));
    EXPECT_FALSE(ParseNodeMessage(framed.data(), framed.size() - 1, parsed));  // its length no longer fits
}

TEST_F(NodeCallsTest, ACallAcrossNodesIsSetUpRelayedInOrderAndHungUp) {
    uint32_t id = Establish();
    EXPECT_EQ(id >> kNodeIdShift, 1u);
    EXPECT_TRUE(m_hostA.Take(kAna).empty());  // the caller hears nothing until the callee's program is in
    Control(*m_b, kBob, BuildShortRecord(MSG_CALL_CONNECTED));
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{BuildShortRecord(MSG_CALL_CONNECTED)});

    // Frames pass whole, header included, in the order sent; only chat must never be dropped.
    std::vector<Bytes> fromAna = {Frame(kChannelText, {'h', 'i'}, "1001", 9),
                                  Frame(kChannelAudio, Bytes(160, 1)), Frame(kChannelVideo, Bytes(5000, 2)),
                                  Frame(kChannelText, {'2'}),
                                  Frame(kChannelControl, BuildShortRecord(MSG_VIDEO_KEYFRAME))};
    m_cluster.droppable.clear();
    for (const Bytes& f : fromAna)
        Feed(*m_a, kAna, f);
    EXPECT_EQ(m_cluster.droppable, (std::vector<bool>{false, true, true, false, false}));
    m_cluster.Pump();
    auto atBob = m_hostB.Take(kBob);
    ASSERT_EQ(atBob.size(), fromAna.size());
    for (size_t i = 0; i < atBob.size(); ++i) {
        EXPECT_EQ(atBob[i].frame, fromAna[i]) << i;
        EXPECT_EQ(atBob[i].bDroppable, i == 1 || i == 2) << i;
    }
    Feed(*m_b, kBob, Frame(kChannelText, {'o', 'k'}));
    Control(*m_b, kBob, BuildShortRecord(MSG_PING));  // not for the other party
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{Bytes({'o', 'k'})});

    EXPECT_EQ(m_dirA.watched, std::vector<std::string>{});
    m_a->OnTimer(1);
    EXPECT_EQ(m_dirA.watched, std::vector<std::string>{"B"});

    Control(*m_b, kBob, BuildShortRecord(MSG_HANGUP));
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{BuildShortRecord(MSG_HANGUP)});
    EXPECT_EQ(m_a->CallCount(), 0u);
    EXPECT_EQ(m_b->CallCount(), 0u);
    Feed(*m_a, kAna, Frame(kChannelText, {'x'}));
    EXPECT_TRUE(m_cluster.inFlight.empty());
}

TEST_F(NodeCallsTest, RefusalsAbortsAndCalleesWhoAreNowhere) {
    // Refused by the callee.
    Ring();
    Control(*m_b, kBob, RefusedBy(kRefusedBusy));
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{RefusedBy(kRefusedBusy)});
    EXPECT_EQ(m_a->CallCount() + m_b->CallCount(), 0u);

    // The caller gives up while it rings; the callee's late refusal still reaches the caller.
    uint32_t id = Ring();
    Control(*m_a, kAna, BuildShortRecord(MSG_HANGUP));
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{BuildShortRecord(MSG_CALL_ABORT)});
    Control(*m_b, kBob, RefusedBy(kRefusedByUser));
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{RefusedBy(kRefusedByUser)});
    Control(*m_b, kBob, BuildCallIdRecord(MSG_CALL_ACCEPT, id));  // too late: the set-up is over
    EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{BuildShortRecord(MSG_CALL_ABORT)});

    // The callee leaves while it rings.
    Ring();
    m_b->OnDisconnected(kBob, "closed");
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{BuildShortRecord(MSG_HANGUP)});

    // Logged in nowhere, or gone from node B between the search and the set-up: no answer.
    Control(*m_a, kAna, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    ParseCallIdRecord(m_hostA.Take(kAna).at(0).payload.data(), kCallIdRecordSize, id);
    m_setup = BuildCallSetup(id, "1001", "Ana", "1002");
    Control(*m_a, kAna, m_setup);
    m_dirA.AnswerLocates();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{RefusedBy(kRefusedNoAnswer)});
    Login(*m_b, m_hostB, kBob, "1002", "bob");
    Control(*m_a, kAna, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    ParseCallIdRecord(m_hostA.Take(kAna).at(0).payload.data(), kCallIdRecordSize, id);
    m_setup = BuildCallSetup(id, "1001", "Ana", "1002");
    Control(*m_a, kAna, m_setup);
    m_dirA.AnswerLocates();
    m_b->OnDisconnected(kBob, "closed");
    m_cluster.Pump();
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{RefusedBy(kRefusedNoAnswer)});

    // A caller who hangs up while the cluster is searching places nothing.
    Login(*m_b, m_hostB, kBob, "1002", "bob");
    Control(*m_a, kAna, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    ParseCallIdRecord(m_hostA.Take(kAna).at(0).payload.data(), kCallIdRecordSize, id);
    Control(*m_a, kAna, BuildCallSetup(id, "1001", "Ana", "1002"));
    Control(*m_a, kAna, BuildShortRecord(MSG_HANGUP));
    m_dirA.AnswerLocates();
    EXPECT_TRUE(m_cluster.inFlight.empty());
    EXPECT_TRUE(m_hostA.Take(kAna).empty());
    EXPECT_EQ(m_a->CallCount() + m_b->CallCount(), 0u);
}

TEST_F(NodeCallsTest, CallsEndWhenTheOtherNodeOrTheBusGoes) {
    Establish();
    m_a->OnNodeGone("C");  // another node: nothing to do with this call
    EXPECT_TRUE(m_hostA.Take(kAna).empty());
    m_a->OnNodeGone("B");
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{BuildShortRecord(MSG_HANGUP)});
    m_b->OnNodeGone("A");
    EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{BuildShortRecord(MSG_HANGUP)});

    // Ringing at the callee when the caller's node dies: the callee hears the caller gave up.
    Ring();
    m_b->OnBusState(false);
    EXPECT_EQ(Payloads(m_hostB.Take(kBob)), std::vector<Bytes>{BuildShortRecord(MSG_CALL_ABORT)});
    m_a->OnBusState(false);
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{BuildShortRecord(MSG_HANGUP)});
    EXPECT_EQ(m_a->CallCount() + m_b->CallCount(), 0u);

    // While the bus is down, a call to another node's user cannot even be tried.
    m_dirA.bUp = false;
    Control(*m_a, kAna, BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    uint32_t id = 0;
    ParseCallIdRecord(m_hostA.Take(kAna).at(0).payload.data(), kCallIdRecordSize, id);
    m_setup = BuildCallSetup(id, "1001", "Ana", "1002");
    Control(*m_a, kAna, m_setup);
    EXPECT_TRUE(m_dirA.locates.empty());
    EXPECT_EQ(Payloads(m_hostA.Take(kAna)), std::vector<Bytes>{RefusedBy(kRefusedNoAnswer)});
}

}  // namespace
