// A private Redis server for tests: its own port on a loopback address the test names, no persistence,
// its files in a temporary folder, and gone with the test (or the test's process). A system Redis on
// the usual port is never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/Process.h"

namespace vp::test {

class CRedisServer {
public:
    explicit CRedisServer(std::string address) : m_strAddress(std::move(address)) {}
    ~CRedisServer() { Stop(); }
    CRedisServer(const CRedisServer&) = delete;
    CRedisServer& operator=(const CRedisServer&) = delete;

    // Starts it and waits until it accepts connections; a restart keeps the port. False (with a reason)
    // when redis-server is missing or does not start.
    bool Start(std::string* error = nullptr);
    // Ends it at once, as a crash would; every key is lost.
    void Stop();
    bool IsRunning() const { return m_Server.Pid() > 0; }

    const std::string& Address() const { return m_strAddress; }
    uint16_t Port() const { return m_nPort; }
    // "redis://ADDRESS:PORT", as velaphond takes it.
    std::string Uri() const;

private:
    std::string m_strAddress;
    uint16_t m_nPort = 0;
    std::unique_ptr<CTempDir> m_pDir;
    CChildProcess m_Server;
};

}  // namespace vp::test
