// A node's Redis link against a real, private Redis: claims between two links, the lease of a node that
// stopped, presence, and what an outage leaves behind.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "server/ClusterLink.h"
#include "server/RedisConnection.h"
#include "server/ServerLog.h"
#include "support/RedisServer.h"

namespace {

using namespace std::chrono_literals;

// Stands in for the protocol thread: what the links post runs when the test waits.
class CTestLoop {
public:
    void Post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_Tasks.push_back(std::move(task));
        }
        m_cv.notify_all();
    }
    // Runs posted tasks until `done` holds; false when it did not within the time.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::unique_lock<std::mutex> lock(m_mutex);
            // Some conditions (log lines, keys in Redis) come without a task: look again now and then.
            if (!m_cv.wait_for(lock, 20ms, [this] { return !m_Tasks.empty(); }))
                continue;
            auto task = std::move(m_Tasks.front());
            m_Tasks.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_Tasks;
};

class ClusterLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetServerLogSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_logMutex);
            m_log.push_back(line);
        });
        std::string error;
        ASSERT_TRUE(m_redis.Start(&error)) << error;
    }
    void TearDown() override {
        m_links.clear();
        SetServerLogSink(nullptr);
    }

    CClusterLink& Node(uint32_t id) {
        SClusterOptions o;
        o.strRedisHost = m_redis.Address();
        o.nRedisPort = m_redis.Port();
        o.nNodeId = id;
        o.times = SLeaseTimes{1000, 200};
        m_links.push_back(
            std::make_unique<CClusterLink>(o, [this](auto task) { m_loop.Post(std::move(task)); }));
        m_links.back()->Start();
        return *m_links.back();
    }
    std::optional<EClaimResult> Claim(CClusterLink& link, const std::string& ntv, char letter = 'C') {
        std::optional<EClaimResult> result;
        link.Claim(ntv, letter, [&](EClaimResult r) { result = r; });
        m_loop.RunUntil([&] { return result.has_value(); });
        return result;
    }
    char LookUp(CClusterLink& link, const std::string& ntv) {
        char letter = '?';
        link.LookUp(ntv, [&](char c) { letter = c; });
        m_loop.RunUntil([&] { return letter != '?'; });
        return letter;
    }
    bool Logged(const std::string& text) {
        std::lock_guard<std::mutex> guard(m_logMutex);
        for (const std::string& line : m_log) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    // A direct connection, as another program would use the same Redis.
    SRedisReply Raw(const std::vector<std::string>& command) {
        CRedisConnection c;
        std::string error;
        SRedisReply reply;
        EXPECT_TRUE(c.Open(m_redis.Address(), m_redis.Port(), 2000, error)) << error;
        EXPECT_TRUE(c.Command(command, reply, error)) << error;
        return reply;
    }

    vp::test::CRedisServer m_redis{"127.0.0.195"};
    CTestLoop m_loop;
    std::vector<std::unique_ptr<CClusterLink>> m_links;
    std::mutex m_logMutex;
    std::vector<std::string> m_log;
};

TEST_F(ClusterLinkTest, ClaimsPresenceAndRelease) {
    CClusterLink& one = Node(1);
    CClusterLink& two = Node(2);
    EXPECT_EQ(Claim(one, "1001"), EClaimResult::Claimed);
    EXPECT_EQ(Claim(one, "1001"), EClaimResult::Claimed);  // its own claim again
    // Node 1 renews: node 2 is refused once it has seen that.
    EXPECT_EQ(Claim(two, "1001"), EClaimResult::HeldElsewhere);
    EXPECT_EQ(Claim(two, "1002", 'A'), EClaimResult::Claimed);

    EXPECT_EQ(LookUp(two, "1001"), 'C');
    EXPECT_EQ(LookUp(one, "1002"), 'A');
    EXPECT_EQ(LookUp(one, "4444"), 'D');
    one.SetLetter("1001", 'A');
    two.SetLetter("1001", 'C');  // not its claim: changes nothing
    m_loop.RunUntil([&] { return Raw({"GET", "velaphon:ntv:1001"}).strText[0] == 'A'; }, 5s);
    EXPECT_EQ(Raw({"GET", "velaphon:ntv:1001"}).strText, "A|" + one.Instance());

    // A release by a node that does not hold the claim leaves it alone; the holder's frees it.
    two.Release("1001");
    EXPECT_EQ(Claim(two, "1001"), EClaimResult::HeldElsewhere);
    one.Release("1001");
    EXPECT_EQ(Claim(two, "1001"), EClaimResult::Claimed);
    // The directory pages ask on a connection of their own.
    EXPECT_EQ(one.LetterNow("1001"), 'C');
    EXPECT_EQ(one.LetterNow("4445"), 'D');
}

TEST_F(ClusterLinkTest, AStoppedNodesClaimsLapseAndAStoppingNodeGivesThemUp) {
    CClusterLink& one = Node(1);
    CClusterLink& two = Node(2);
    ASSERT_EQ(Claim(one, "1001"), EClaimResult::Claimed);
    ASSERT_EQ(Claim(one, "1002"), EClaimResult::Claimed);
    // Stopped with one claim still held, as a crash would leave it: nothing renews it any more.
    one.Release("1002");  // given up on the way out
    one.Stop();
    EXPECT_EQ(Raw({"EXISTS", "velaphon:ntv:1002"}).nInteger, 0);
    EXPECT_EQ(Raw({"EXISTS", "velaphon:ntv:1001"}).nInteger, 1);
    // The login waits for the lease to run out rather than be refused.
    EXPECT_EQ(Claim(two, "1001"), EClaimResult::Claimed);
    EXPECT_EQ(Raw({"GET", "velaphon:ntv:1001"}).strText, "C|" + two.Instance());
}

TEST_F(ClusterLinkTest, AnOutageRefusesClaimsAndWhatItLeftIsSettledOnReturn) {
    CClusterLink& one = Node(1);
    std::vector<std::string> lost;
    one.SetLostHandler([&](const std::string& ntv) { lost.push_back(ntv); });
    ASSERT_EQ(Claim(one, "1001"), EClaimResult::Claimed);
    ASSERT_EQ(Claim(one, "1002"), EClaimResult::Claimed);

    m_redis.Stop();
    ASSERT_TRUE(m_loop.RunUntil([&] { return Logged("cluster: lost Redis"); }, 10s));
    EXPECT_EQ(Claim(one, "1003"), EClaimResult::Unavailable);
    EXPECT_EQ(LookUp(one, "1004"), 'D');
    EXPECT_EQ(one.LetterNow("1002"), 'D');

    // Back empty: the node's claims are made again.
    std::string error;
    ASSERT_TRUE(m_redis.Start(&error)) << error;
    ASSERT_TRUE(m_loop.RunUntil([&] { return Logged("cluster: back on Redis"); }, 10s));
    ASSERT_TRUE(m_loop.RunUntil([&] { return Raw({"EXISTS", "velaphon:ntv:1002"}).nInteger == 1; }, 10s));
    EXPECT_EQ(Raw({"GET", "velaphon:ntv:1001"}).strText, "C|" + one.Instance());

    // Another node took one meanwhile: this node learns it lost that one and stops renewing it.
    Raw({"SET", "velaphon:ntv:1001", "C|2-other", "PX", "60000"});
    ASSERT_TRUE(m_loop.RunUntil([&] { return !lost.empty(); }, 10s));
    EXPECT_EQ(lost, std::vector<std::string>{"1001"});
    EXPECT_EQ(Raw({"GET", "velaphon:ntv:1001"}).strText, "C|2-other");
    EXPECT_EQ(Claim(one, "1003"), EClaimResult::Claimed);
}

TEST_F(ClusterLinkTest, TwoLiveNodesWithOneNodeIdAreReported) {
    Node(4);
    Node(4);
    EXPECT_TRUE(m_loop.RunUntil([&] { return Logged("node id 4 is in use by another live node"); }, 10s));
}

}  // namespace
