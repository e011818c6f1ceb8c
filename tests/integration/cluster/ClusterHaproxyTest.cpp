// Three nodes behind HAProxy, reached only through the proxy's address as an installation's users would:
// the login, the pages, a second login of the same NTV, and a node that dies under a user, idle or in a
// call with a user of another node.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "integration/call/CliProcess.h"
#include "integration/cluster/ClusterFixture.h"

namespace {

using vp::test::CChildProcess;
using Clock = CChildProcess::Clock;

long long MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

class ClusterBehindHaproxy : public clustertest::ClusterFixture {};

TEST_F(ClusterBehindHaproxy, ThroughTheProxyLoginPagesOneLoginPerNtvAndANodeThatDies) {
    const std::string port = std::to_string(HttpPort());
    // Her own process, so that each of her logins keeps its time.
    CChildProcess ana;
    ASSERT_TRUE(
        ana.Start({calltest::CliBinary(), "--host", ProxyAddress(), "--ntv", "1001", "--password", "ana"}));
    ASSERT_TRUE(ana.WaitLine("state C"));
    const int holder = NodeHolding("1001");
    ASSERT_GE(holder, 0);

    // The pages are named on the proxy's address, and any node serves them with presence from all.
    const std::string directory = "http://" + ProxyAddress() + ":" + port + "/directory";
    EXPECT_TRUE(ana.WaitLine("user-info " + directory + " ", CChildProcess::EMatch::Prefix));
    httplib::Client http(ProxyAddress(), HttpPort());
    for (int i = 0; i < 2; ++i) {  // two nodes in turn
        auto page = http.Get("/directory");
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->body.find("callto=1002"), std::string::npos);
        EXPECT_NE(page->body.find("Connected"), std::string::npos);
    }

    // The proxy sends the next client to a node without one: the NTV is held elsewhere.
    calltest::CCli again(ProxyAddress(), "1001", "ana");
    EXPECT_TRUE(again.WaitLine("login-error 8"));
    // Its log line may come after the client heard the refusal.
    bool refusedElsewhere = false;
    for (int waited = 0; !refusedElsewhere && waited < 5000; waited += 20) {
        for (size_t n = 0; n < NodeCount(); ++n)
            refusedElsewhere |=
                static_cast<int>(n) != holder && Node(n).Logged("already connected on another node");
        if (!refusedElsewhere)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(refusedElsewhere);
    again.Stop();

    // Her node dies: she comes back through the proxy on another node once her claim's lease has run
    // out, never told that she is connected.
    const Clock::time_point crash = Clock::now();
    Crash(static_cast<size_t>(holder));
    const std::string down = "Server velaphon-nodes/node" + std::to_string(holder + 1) + " is DOWN";
    ASSERT_TRUE(Proxy().Log().WaitLine(down, CChildProcess::EMatch::Substring, 20000));
    for (int waited = 0; ana.Count("state C") < 2 && waited < 30000; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto logins = ana.TimesOf("state C");
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(ana.Count("login-error 8"), 0);
    const int moved = NodeHolding("1001");
    EXPECT_GE(moved, 0);
    EXPECT_NE(moved, holder);
    std::printf(
        "[ recovery ] node %d killed: out of the proxy's pool after %lld ms; its user logged in "
        "again through the proxy after %lld ms (claim lease %d s)\n",
        holder + 1, MsBetween(crash, *Proxy().Log().TimeOf(down, CChildProcess::EMatch::Substring)),
        MsBetween(crash, logins[1]), clustertest::kLeaseSeconds);
}

TEST_F(ClusterBehindHaproxy, ANodeKilledMidCallHangsUpThePeerAndItsUserComesBackThroughTheProxy) {
    CChildProcess bob;
    ASSERT_TRUE(bob.Start({calltest::CliBinary(), "--host", ProxyAddress(), "--ntv", "1002", "--password",
                           "bob", "--auto-answer", "--mic", "tone"}));
    ASSERT_TRUE(bob.WaitLine("state C"));
    // The proxy gives the next session to a node without one.
    calltest::CCli ana(ProxyAddress(), "1001", "ana", {"--call", "1002", "--mic", "tone"});
    ASSERT_TRUE(ana.WaitLine("call-connected"));
    ASSERT_TRUE(bob.WaitLine("call-connected"));
    const int bobsNode = NodeHolding("1002");
    ASSERT_GE(bobsNode, 0);
    ASSERT_NE(NodeHolding("1001"), bobsNode);

    const Clock::time_point crash = Clock::now();
    Crash(static_cast<size_t>(bobsNode));
    ASSERT_TRUE(ana.WaitLine("hangup", 10000));
    for (int waited = 0; bob.Count("state C") < 2 && waited < 30000; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto logins = bob.TimesOf("state C");
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(bob.Count("login-error 8"), 0);
    std::printf(
        "[ recovery ] node %d killed mid-call: the peer heard the hang-up after %lld ms; the node's user "
        "was back in state C through the proxy after %lld ms (claim lease %d s)\n",
        bobsNode + 1, MsBetween(crash, *ana.TimeOf("hangup")), MsBetween(crash, logins[1]),
        clustertest::kLeaseSeconds);
}

}  // namespace
