#include "support/RedisServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vp::test {

namespace {

// A port free on the address now. Redis binds it a moment later; on a loopback address of the test's
// own nobody else takes it meanwhile.
uint16_t FreePort(const std::string& address) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    socklen_t length = sizeof sa;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) == 0) {
        port = ntohs(sa.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace

bool CRedisServer::Start(std::string* error) {
    auto fail = [&](const std::string& why) { return Failed(error, why, [this] { Stop(); }); };
    if (IsRunning())
        return true;
    if (m_nPort == 0)
        m_nPort = FreePort(m_strAddress);
    if (m_nPort == 0)
        return fail("no free port on " + m_strAddress);
    if (!m_pDir)
        m_pDir = std::make_unique<CTempDir>("vp-redis");
    const std::vector<std::string> argv = {"redis-server",
                                           "--bind",
                                           m_strAddress,
                                           "--port",
                                           std::to_string(m_nPort),
                                           "--save",
                                           "",
                                           "--appendonly",
                                           "no",
                                           "--dir",
                                           m_pDir->Path(),
                                           "--protected-mode",
                                           "no",
                                           "--daemonize",
                                           "no",
                                           "--logfile",
                                           ""};
    if (!m_Server.Start(argv, CChildProcess::kOut))
        return fail("cannot run redis-server (is it installed?)");
    if (!m_Server.WaitLine("Ready to accept connections", CChildProcess::EMatch::Substring, 10000))
        return fail("redis-server did not start: " + m_Server.Text(CChildProcess::kOut));
    return true;
}

void CRedisServer::Stop() {
    m_Server.Kill();
}

std::string CRedisServer::Uri() const {
    return "redis://" + m_strAddress + ":" + std::to_string(m_nPort);
}

}  // namespace vp::test
