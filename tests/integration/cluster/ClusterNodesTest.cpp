// velaphond nodes sharing one Redis and one SQLite file, as processes, with velaphon-cli as their users:
// the already-connected rule and presence across nodes, calls between nodes, a node that dies, and a
// node that loses Redis.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "integration/app/SessionHarness.h"
#include "integration/call/CliProcess.h"
#include "integration/server/ServerHarness.h"
#include "server/Switchboard.h"
#include "support/RedisServer.h"
#include "support/SoundCompare.h"
#include "support/Speech.h"

namespace {

using sessiontest::CVelaphond;

// Short leases keep the tests quick; a dead node's users wait this long.
std::vector<std::string> ClusterArgs(const vp::test::CRedisServer& redis, int node) {
    return {"--cluster", redis.Uri(), "--node-id", std::to_string(node), "--cluster-lease", "2"};
}

class ClusterNodes : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_redis.Start(&error)) << error;
        ASSERT_TRUE(vp::test::SeedDatabase(m_db, {{"1001", "ana", "Ana", {{"1002", "Bob"}}},
                                                  {"1002", "bob", "Bob", {{"1001", "Ana"}}},
                                                  {"1003", "cy", "Cy", {}}}));
    }

    // Starts the nodes and waits until each is on Redis, for its claims and for calls with the others.
    static ::testing::AssertionResult Started(std::initializer_list<CVelaphond*> nodes) {
        for (CVelaphond* node : nodes) {
            if (!node->Start())
                return ::testing::AssertionFailure() << "a node did not start";
        }
        for (CVelaphond* node : nodes) {
            if (!node->WaitForLog("cluster: joined Redis") ||
                !node->WaitForLog("calls with other nodes go through Redis")) {
                return ::testing::AssertionFailure() << "a node did not join Redis";
            }
        }
        return ::testing::AssertionSuccess();
    }

    servertest::CScratch m_scratch;
    std::string m_db = m_scratch.File("accounts.db");
    vp::test::CRedisServer m_redis{"127.0.0.195"};
};

uint32_t CallIdFrom(servertest::CTestClient& client) {
    client.Control(BuildCallIdRecord(MSG_CALL_REQUEST, 0));
    Bytes r = client.ReceiveControl();
    uint32_t id = 0;
    EXPECT_TRUE(ParseCallIdRecord(r.data(), r.size(), id));
    return id;
}

TEST_F(ClusterNodes, OneLoginPerNtvAcrossNodesPresenceAndANodeThatDies) {
    CVelaphond one(m_db, "127.0.0.196", ClusterArgs(m_redis, 1));
    CVelaphond two(m_db, "127.0.0.197", ClusterArgs(m_redis, 2));
    ASSERT_TRUE(Started({&one, &two}));

    calltest::CCli ana("127.0.0.196", "1001", "ana");
    ASSERT_TRUE(ana.WaitLine("state C"));
    calltest::CCli again("127.0.0.197", "1001", "ana");
    EXPECT_TRUE(again.WaitLine("login-error 8"));
    EXPECT_TRUE(two.WaitForLog("login refused for 1001 from 127.0.0.1"));

    calltest::CCli bob("127.0.0.197", "1002", "bob");
    ASSERT_TRUE(bob.WaitLine("state C"));
    EXPECT_TRUE(ana.WaitLine("contact-status 1002 C"));
    EXPECT_TRUE(bob.WaitLine("contact-status 1001 C"));

    // Call ids name their node.
    servertest::CTestClient cy1, cy2;
    ASSERT_TRUE(cy1.Connect("127.0.0.196", sessiontest::kPort));
    ASSERT_TRUE(cy1.LoginFully("1003", "cy"));
    EXPECT_EQ(CallIdFrom(cy1) >> kNodeIdShift, 1u);
    cy1.Close();
    ASSERT_TRUE(cy2.Connect("127.0.0.197", sessiontest::kPort));
    ASSERT_TRUE(cy2.LoginFully("1003", "cy"));  // the first one's logout gave the claim up
    EXPECT_EQ(CallIdFrom(cy2) >> kNodeIdShift, 2u);

    // Node 1 dies holding ana's claim: she can log in on node 2 once its lease has run out, not before
    // being told she is connected elsewhere.
    one.Crash();
    calltest::CCli moved("127.0.0.197", "1001", "ana");
    EXPECT_TRUE(moved.WaitLine("state C"));
    EXPECT_EQ(moved.Count("login-error 8"), 0);
}

TEST_F(ClusterNodes, ANodeWithoutRedisKeepsItsUsersAndPutsOffNewLogins) {
    CVelaphond node(m_db, "127.0.0.198", ClusterArgs(m_redis, 3));
    ASSERT_TRUE(Started({&node}));
    servertest::CTestClient bob;
    ASSERT_TRUE(bob.Connect("127.0.0.198", sessiontest::kPort));
    ASSERT_TRUE(bob.LoginFully("1002", "bob"));

    m_redis.Stop();
    ASSERT_TRUE(node.WaitForLog("cluster: lost Redis"));
    // The client is closed without an answer it would give up on, and keeps trying.
    calltest::CCli cy("127.0.0.198", "1003", "cy");
    EXPECT_TRUE(node.WaitForLog("login of 1003 from 127.0.0.1"));
    EXPECT_EQ(cy.Count("state C"), 0);
    // Bob's session goes on.
    bob.Control(BuildContactStatusQuery("1002"));
    EXPECT_EQ(bob.ReceiveControl(), BuildContactStatus("1002", 'C'));

    std::string error;
    ASSERT_TRUE(m_redis.Start(&error)) << error;
    EXPECT_TRUE(node.WaitForLog("cluster: back on Redis"));
    EXPECT_TRUE(cy.WaitLine("state C"));
    EXPECT_FALSE(bob.IsClosed());
}

TEST_F(ClusterNodes, ACallBetweenNodesCarriesSpeechChatAndVideoBothWays) {
    CVelaphond one(m_db, "127.0.0.196", ClusterArgs(m_redis, 1));
    CVelaphond two(m_db, "127.0.0.197", ClusterArgs(m_redis, 2));
    ASSERT_TRUE(Started({&one, &two}));
    const std::string anaSays = m_scratch.File("ana.wav"), bobSays = m_scratch.File("bob.wav");
    ASSERT_TRUE(vp::test::MakeSpeechWav("please call me back tomorrow morning", anaSays, 0.5, 0.5));
    ASSERT_TRUE(vp::test::MakeSpeechWav("the garden looks lovely in the spring", bobSays, 0.5, 0.5));
    const std::string anaHears = m_scratch.File("ana-heard.wav"), bobHears = m_scratch.File("bob-heard.wav");

    calltest::CCli bob("127.0.0.197", "1002", "bob",
                       {"--auto-answer=1", "--mic", bobSays, "--speaker", bobHears, "--say", "hola Ana",
                        "--camera", "test"});
    ASSERT_TRUE(bob.WaitLine("state C"));
    calltest::CCli ana("127.0.0.196", "1001", "ana",
                       {"--call", "1002", "--mic", anaSays, "--speaker", anaHears, "--say", "hello Bob",
                        "--camera", "test", "--hangup-after", "6"});
    ASSERT_TRUE(bob.WaitLine("incoming 1001 Ana"));
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    ASSERT_TRUE(bob.WaitLine("call-connected"));
    EXPECT_TRUE(one.WaitForLog("on node 2-"));
    EXPECT_TRUE(ana.WaitLine("text hola Ana"));
    EXPECT_TRUE(bob.WaitLine("text hello Bob"));
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    ASSERT_TRUE(bob.WaitLine("hangup"));
    ASSERT_TRUE(ana.WaitLine("video-received", 5000, true));
    ASSERT_TRUE(bob.WaitLine("video-received", 5000, true));
    for (calltest::CCli* cli : {&ana, &bob}) {
        const calltest::SFrames f = calltest::Frames(*cli);
        std::printf(
            "audio sent %ld received %ld; pictures sent %ld received %ld read back %d, worst %.2f dB\n",
            cli->Number("audio-sent"), cli->Number("audio-received"), cli->Number("video-sent"),
            cli->Number("video-received"), f.count, f.worstPsnr);
        EXPECT_GT(cli->Number("audio-received"), 5);
        EXPECT_GT(f.count, 20);
        EXPECT_GT(f.worstPsnr, 30.0);
    }
    EXPECT_EQ(ana.Stop(), 0);
    EXPECT_EQ(bob.Stop(), 0);
    // The same measure as a call through one server.
    const double anaToBob = vp::test::HeardLikeSpoken(anaSays, bobHears);
    const double bobToAna = vp::test::HeardLikeSpoken(bobSays, anaHears);
    std::printf("envelope correlation across nodes: Ana to Bob %.3f, Bob to Ana %.3f\n", anaToBob, bobToAna);
    EXPECT_GT(anaToBob, 0.8);
    EXPECT_GT(bobToAna, 0.8);
}

TEST_F(ClusterNodes, ANodeKilledMidCallEndsTheCallForThePeer) {
    CVelaphond one(m_db, "127.0.0.196", ClusterArgs(m_redis, 1));
    CVelaphond two(m_db, "127.0.0.197", ClusterArgs(m_redis, 2));
    ASSERT_TRUE(Started({&one, &two}));
    calltest::CCli bob("127.0.0.197", "1002", "bob", {"--auto-answer"});
    ASSERT_TRUE(bob.WaitLine("state C"));
    // Silence: no frame would reveal the dead node, only the watch on it.
    calltest::CCli ana("127.0.0.196", "1001", "ana", {"--call", "1002", "--mic", "silence"});
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    ASSERT_TRUE(bob.WaitLine("call-connected"));
    const auto killed = calltest::Clock::now();
    two.Crash();
    ASSERT_TRUE(ana.WaitLine("hangup", 10000));
    const double ms = std::chrono::duration<double, std::milli>(*ana.TimeOf("hangup") - killed).count();
    std::printf("the peer heard the hang-up %.0f ms after its node was killed\n", ms);
    EXPECT_TRUE(one.WaitForLog("ended: its node is gone"));
    EXPECT_TRUE(ana.WaitLine("state C", 1000));
}

TEST_F(ClusterNodes, ALocalCallOutlastsRedisGoingAwayForFiveSeconds) {
    CVelaphond node(m_db, "127.0.0.198", ClusterArgs(m_redis, 3));
    ASSERT_TRUE(Started({&node}));
    calltest::CCli bob("127.0.0.198", "1002", "bob",
                       {"--auto-answer", "--mic", "tone", "--stats-every", "1"});
    ASSERT_TRUE(bob.WaitLine("state C"));
    calltest::CCli ana("127.0.0.198", "1001", "ana",
                       {"--call", "1002", "--mic", "tone", "--chat-every", "250", "--hangup-after", "10"});
    ASSERT_TRUE(ana.WaitLine("call-connected"));

    m_redis.Stop();
    ASSERT_TRUE(node.WaitForLog("cluster: lost Redis"));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    std::string error;
    ASSERT_TRUE(m_redis.Start(&error)) << error;
    EXPECT_TRUE(node.WaitForLog("cluster: back on Redis"));

    // The call ran its course: ended by its caller, with every chat line and sound both ways.
    ASSERT_TRUE(ana.WaitLine("hangup", 20000));
    EXPECT_TRUE(node.WaitForLog("ended by 1001"));
    ASSERT_TRUE(ana.WaitLine("chat-sent", 5000, true));
    ASSERT_TRUE(bob.WaitLine("hangup"));
    long chatReceived = 0;
    for (const std::string& line : bob.Lines()) {
        if (line.rfind("text chat ", 0) == 0)
            ++chatReceived;
    }
    std::printf("with Redis away for 5 s: chat lines sent %ld, received %ld; sound packets received %ld\n",
                ana.Number("chat-sent"), chatReceived, ana.Number("audio-received"));
    EXPECT_GT(ana.Number("chat-sent"), 30);
    EXPECT_EQ(chatReceived, ana.Number("chat-sent"));
    EXPECT_GT(ana.Number("audio-received"), 50);
}

}  // namespace
