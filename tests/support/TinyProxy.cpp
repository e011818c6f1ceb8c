#include "support/TinyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace vp::test {

namespace {

sockaddr_in Address(const std::string& address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return sa;
}

// A port of the address nobody listens on now; 0 when none could be had.
int FreePort(const std::string& address) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in sa = Address(address, 0);
    socklen_t len = sizeof sa;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    close(fd);
    return port;
}

bool Accepts(const std::string& address, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in sa = Address(address, port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

}  // namespace

CTinyProxy::CTinyProxy(const std::string& address, int port, const std::string& login,
                       const std::string& password, bool bindOutgoing) {
    m_nPort = port != 0 ? port : FreePort(address);
    chmod(m_Dir.Path().c_str(), 0755);  // as a folder made by hand: the proxy may drop to another user
    const std::string conf = m_Dir.File("tinyproxy.conf");
    std::ofstream(conf) << "Port " << m_nPort << "\nListen " << address
                        << (bindOutgoing ? "\nBind " + address : std::string())
                        << "\nTimeout 30\nAllow 127.0.0.0/8\nMaxClients 10\nConnectPort 443\n"
                        << "BasicAuth " << login << " " << password << "\nLogLevel Info\nLogFile \""
                        << m_Dir.File("tinyproxy.log") << "\"\n";
    m_pid = StartProgram({"tinyproxy", "-d", "-c", conf});
    for (int i = 0; i < 500 && m_pid > 0 && !m_bReady; ++i) {
        m_bReady = Accepts(address, m_nPort);
        if (!m_bReady)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CTinyProxy::~CTinyProxy() {
    StopProgram(m_pid);
}

}  // namespace vp::test
