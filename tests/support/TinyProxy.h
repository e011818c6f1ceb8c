// tinyproxy with Basic authentication on a loopback address, in a folder of its own, ended with the
// object: the real HTTP proxy for tests of the proxy tunnel.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/Process.h"

namespace vp::test {

class CTinyProxy {
public:
    // Port 0 takes a free port of the address (other runs may have a proxy on the same address). With
    // `bindOutgoing` its own connections leave from that address too, so a server's log tells whether
    // a client came through it.
    CTinyProxy(const std::string& address, int port, const std::string& login, const std::string& password,
               bool bindOutgoing = false);
    ~CTinyProxy();
    CTinyProxy(const CTinyProxy&) = delete;
    CTinyProxy& operator=(const CTinyProxy&) = delete;

    // Whether it accepts connections.
    bool Ready() const { return m_bReady; }
    int Port() const { return m_nPort; }

private:
    CTempDir m_Dir{"vp-tinyproxy"};
    int m_nPort = 0;
    pid_t m_pid = -1;
    bool m_bReady = false;
};

}  // namespace vp::test
