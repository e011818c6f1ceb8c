// velaphond nodes sharing one Redis and one SQLite file, as processes, with velaphon-cli as their users:
// the already-connected rule and presence across nodes, a node that dies, and a node that loses Redis.
#include <gtest/gtest.h>

#include "integration/app/SessionHarness.h"
#include "integration/call/CliProcess.h"
#include "integration/server/ServerHarness.h"
#include "server/Switchboard.h"
#include "support/RedisServer.h"

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
    ASSERT_TRUE(one.Start());
    ASSERT_TRUE(two.Start());
    ASSERT_TRUE(one.WaitForLog("cluster: joined Redis"));
    ASSERT_TRUE(two.WaitForLog("cluster: joined Redis"));

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
    ASSERT_TRUE(node.Start());
    ASSERT_TRUE(node.WaitForLog("cluster: joined Redis"));
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

}  // namespace
