// Three velaphond nodes as processes, sharing their accounts in a private PostgreSQL and their claims in
// a private Redis, behind a private HAProxy run from the operators' recipe (deploy/haproxy.cfg): what an
// installation of several nodes looks like, on 127.0.0.42-47. Clients log in through the proxy's
// address; a test crashes and restarts nodes and asks which node holds a user.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "integration/server/ServerHarness.h"
#include "support/AccountSeed.h"
#include "support/HaproxyServer.h"
#include "support/PostgresServer.h"
#include "support/RedisServer.h"

namespace clustertest {

using EMatch = vp::test::CChildProcess::EMatch;

inline const std::string kProxyAddress = "127.0.0.42";
inline const std::vector<std::string> kNodeAddresses = {"127.0.0.43", "127.0.0.44", "127.0.0.45"};
inline const std::string kRedisAddress = "127.0.0.47";
// Short leases keep the tests quick; a dead node's users wait this long.
constexpr int kLeaseSeconds = 2;

// `velaphond serve` as one node: clients on ADDRESS:443, its pages on ADDRESS:HTTPPORT, where the
// proxy expects them.
class CNode {
public:
    CNode(std::vector<std::string> args, std::string address)
        : m_Args(std::move(args)), m_strAddress(std::move(address)) {}

    // Starts it and waits until it has joined Redis; while another run of the test holds the address,
    // waits for it.
    bool Start() {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        for (;;) {
            if (!m_Process.Start(m_Args, vp::test::CChildProcess::kErr))
                return false;
            if (WaitForLog("listening ", 20000))
                return WaitForLog("cluster: joined Redis", 20000);
            if (m_Process.Text(vp::test::CChildProcess::kErr).find("cannot listen") == std::string::npos ||
                std::chrono::steady_clock::now() > giveUp) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    // Ends it at once, as a crash would: its claims stay in Redis until their lease runs out.
    void Crash() { m_Process.Kill(); }
    bool IsRunning() const { return m_Process.Pid() > 0; }

    bool WaitForLog(const std::string& text, int timeoutMs = 15000) {
        return m_Process.WaitLine(text, EMatch::Substring, timeoutMs);
    }
    bool Logged(const std::string& text) { return m_Process.Count(text, EMatch::Substring) > 0; }
    vp::test::CChildProcess& Log() { return m_Process; }
    const std::string& Address() const { return m_strAddress; }

private:
    std::vector<std::string> m_Args;
    std::string m_strAddress;
    vp::test::CChildProcess m_Process;
};

class ClusterFixture : public ::testing::Test {
protected:
    // Ana and Bob have each other as contacts; Cy has none.
    static std::vector<vp::test::SUser> Users() {
        return {{"1001", "ana", "Ana", {{"1002", "Bob"}}},
                {"1002", "bob", "Bob", {{"1001", "Ana"}}},
                {"1003", "cy", "Cy", {}}};
    }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_Postgres.Start(&error)) << error;
        m_strDb = m_Postgres.CreateDatabase("velaphon");
        ASSERT_FALSE(m_strDb.empty());
        // As the recipe says: the schema first, then the accounts.
        servertest::CRun migrate = servertest::RunTool({"migrate", "--db", m_strDb});
        ASSERT_EQ(migrate.nExit, 0) << migrate.strErr;
        ASSERT_TRUE(vp::test::SeedDatabase(m_strDb, Users()));
        ASSERT_TRUE(m_Redis.Start(&error)) << error;

        // The login answer names the nodes' page port, and clients take it to the proxy's address.
        m_nHttpPort = FreePort();
        ASSERT_NE(m_nHttpPort, 0);
        for (size_t n = 0; n < kNodeAddresses.size(); ++n) {
            const std::string& address = kNodeAddresses[n];
            m_Nodes.push_back(std::make_unique<CNode>(
                std::vector<std::string>{
                    servertest::Binary(), "serve", "--db", m_strDb, "--listen", address + ":443", "--http",
                    address + ":" + std::to_string(m_nHttpPort), "--cluster", m_Redis.Uri(), "--node-id",
                    std::to_string(n + 1), "--cluster-lease", std::to_string(kLeaseSeconds)},
                address));
            ASSERT_TRUE(m_Nodes.back()->Start())
                << "node " << n + 1
                << " did not start: " << m_Nodes.back()->Log().Text(vp::test::CChildProcess::kErr);
        }
        m_pProxy = std::make_unique<vp::test::CHaproxyServer>(kProxyAddress, m_nHttpPort, kNodeAddresses);
        ASSERT_TRUE(m_pProxy->Start(&error)) << error;
    }

    // Node n (from 0) of kNodeAddresses.
    CNode& Node(size_t n) { return *m_Nodes.at(n); }
    size_t NodeCount() const { return m_Nodes.size(); }
    void Crash(size_t n) { Node(n).Crash(); }
    bool Restart(size_t n) { return Node(n).Start(); }
    // The running node where the NTV logged in last; -1 when none. A node's log comes through a pipe of
    // its own, so its line may arrive after the client has heard the answer: it is waited for a while.
    int NodeHolding(const std::string& ntv, int timeoutMs = 5000) {
        for (int waited = 0;; waited += 20) {
            const int holder = NodeLoggedIn(ntv);
            if (holder >= 0 || waited >= timeoutMs)
                return holder;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    int NodeLoggedIn(const std::string& ntv) {
        int holder = -1;
        std::optional<vp::test::CChildProcess::Clock::time_point> latest;
        for (size_t n = 0; n < m_Nodes.size(); ++n) {
            if (!Node(n).IsRunning())
                continue;
            auto times = Node(n).Log().TimesOf("login " + ntv + " from ", EMatch::Prefix);
            if (!times.empty() && (!latest || times.back() > *latest)) {
                latest = times.back();
                holder = static_cast<int>(n);
            }
        }
        return holder;
    }

    const std::string& ProxyAddress() const { return kProxyAddress; }
    // The page port of the proxy and of every node.
    uint16_t HttpPort() const { return m_nHttpPort; }
    vp::test::CHaproxyServer& Proxy() { return *m_pProxy; }
    vp::test::CRedisServer& Redis() { return m_Redis; }
    vp::test::CPostgresServer& Postgres() { return m_Postgres; }
    // The accounts' libpq URI.
    const std::string& Db() const { return m_strDb; }

private:
    // A port free on the proxy's address; the nodes' addresses are this test's alone.
    static uint16_t FreePort() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        inet_pton(AF_INET, kProxyAddress.c_str(), &sa.sin_addr);
        socklen_t length = sizeof sa;
        uint16_t port = 0;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) == 0) {
            port = ntohs(sa.sin_port);
        }
        if (fd >= 0)
            close(fd);
        return port;
    }

    vp::test::CPostgresServer m_Postgres;
    vp::test::CRedisServer m_Redis{kRedisAddress};
    std::string m_strDb;
    uint16_t m_nHttpPort = 0;
    // Destroyed before the stores they use.
    std::vector<std::unique_ptr<CNode>> m_Nodes;
    std::unique_ptr<vp::test::CHaproxyServer> m_pProxy;
};

}  // namespace clustertest
