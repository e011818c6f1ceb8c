// A private HAProxy for tests, run from the operators' recipe (deploy/haproxy.cfg) with the test's
// addresses put in: clients on ADDRESS:443, the pages on ADDRESS:HTTPPORT, both balanced over the given
// nodes, each of which serves its pages on the same HTTPPORT. It runs in the foreground from a
// temporary folder and is gone with the test (or the test's process).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"

namespace vp::test {

// The recipe with the nodes' hosts replaced, in the order they first appear in it, by `nodes` (the
// recipe's nodes beyond their number are left out), its ":8080" ports by `httpPort`, its listening
// address by `address`, and its global section by one for a process that runs in the foreground.
std::string HaproxyConfigFrom(const std::string& recipe, const std::string& address, uint16_t httpPort,
                              const std::vector<std::string>& nodes);

class CHaproxyServer {
public:
    CHaproxyServer(std::string address, uint16_t httpPort, std::vector<std::string> nodes)
        : m_strAddress(std::move(address)), m_nHttpPort(httpPort), m_Nodes(std::move(nodes)) {}
    ~CHaproxyServer() { Stop(); }
    CHaproxyServer(const CHaproxyServer&) = delete;
    CHaproxyServer& operator=(const CHaproxyServer&) = delete;

    // Writes the configuration, starts haproxy and waits until it accepts on both ports. While another
    // run of the test holds the address, waits for it. False (with a reason) when haproxy is missing,
    // refuses the configuration or does not start.
    bool Start(std::string* error = nullptr);
    // Ends it at once.
    void Stop();
    bool IsRunning() const { return m_Proxy.Pid() > 0; }

    const std::string& Address() const { return m_strAddress; }
    uint16_t HttpPort() const { return m_nHttpPort; }
    // Its messages, one a line: the nodes it takes out of the pool ("Server velaphon-nodes/node2 is
    // DOWN") and brings back ("... is UP").
    CChildProcess& Log() { return m_Proxy; }

private:
    std::string m_strAddress;
    uint16_t m_nHttpPort;
    std::vector<std::string> m_Nodes;
    std::unique_ptr<CTempDir> m_pDir;
    CChildProcess m_Proxy;
};

}  // namespace vp::test
